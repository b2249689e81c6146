// A failed attach never leaves the mirror driver on the desktop.
#include "platform/mirror/driver_attachment.h"

#include <gtest/gtest.h>

#include <vector>

namespace kmr::platform {
namespace {

// The system as the steps leave it: the registry value, the settings in
// effect (the driver is on the desktop when the applied value was 1), and an
// open device context. One step can be made to fail.
class FakeDisplay : public DisplayAttachSteps {
 public:
  std::string fail;  // "find", "mode", "write", "apply", "open"
  int registry_value = 0;
  bool on_desktop = false;
  bool driver_open = false;
  std::vector<std::string> log;

  bool FindDevice(std::string* name) override {
    log.push_back("find");
    *name = "\\\\.\\DISPLAY3";
    return fail != "find";
  }
  bool ReadMode(DisplayMode* mode) override {
    log.push_back("mode");
    *mode = DisplayMode{1280, 1024, 32};
    return fail != "mode";
  }
  bool WriteAttachValue(const std::string& name, bool attach) override {
    log.push_back(std::string("write ") + (attach ? "1" : "0") + " " + name);
    registry_value = attach ? 1 : 0;  // a failing write may still have written
    return !(attach && fail == "write");
  }
  bool ApplySettings(const std::string&, const DisplayMode& mode) override {
    log.push_back("apply " + std::to_string(mode.width) + "x" + std::to_string(mode.height) + "x" +
                  std::to_string(mode.bits_per_pixel));
    if (fail == "apply" && registry_value == 1) {
      on_desktop = true;  // applied in part, then reported failure
      return false;
    }
    on_desktop = registry_value == 1;
    return true;
  }
  bool OpenDriver(const std::string&) override {
    log.push_back("open");
    if (fail == "open") return false;
    driver_open = true;
    return true;
  }
  void CloseDriver() override {
    log.push_back("close");
    driver_open = false;
  }
};

TEST(DriverAttachment, AttachesInOrderAndDetachesInFull) {
  FakeDisplay display;
  DriverAttachment a(&display);
  std::string error;
  ASSERT_TRUE(a.Attach(&error)) << error;
  EXPECT_TRUE(display.on_desktop);
  EXPECT_TRUE(display.driver_open);
  EXPECT_EQ(display.log,
            (std::vector<std::string>{"find", "mode", "write 1 \\\\.\\DISPLAY3", "apply 1280x1024x32", "open"}));
  a.Detach();
  EXPECT_FALSE(display.on_desktop);
  EXPECT_FALSE(display.driver_open);
  EXPECT_EQ(display.registry_value, 0);
  a.Detach();  // nothing more to undo
  EXPECT_EQ(display.log.size(), 8u);
}

TEST(DriverAttachment, EveryFailureAfterTheFirstWriteIsUndone) {
  for (const char* step : {"write", "apply", "open"}) {
    FakeDisplay display;
    display.fail = step;
    DriverAttachment a(&display);
    std::string error;
    EXPECT_FALSE(a.Attach(&error)) << step;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(display.registry_value, 0) << "the attach value stays 1 after a failed " << step;
    EXPECT_FALSE(display.on_desktop) << "the driver stays on the desktop after a failed " << step;
    EXPECT_FALSE(display.driver_open);
    EXPECT_FALSE(a.IsAttached());
  }
}

TEST(DriverAttachment, NoDeviceChangesNothing) {
  FakeDisplay display;
  display.fail = "find";
  {
    DriverAttachment a(&display);
    std::string error;
    EXPECT_FALSE(a.Attach(&error));
    EXPECT_EQ(error, "the driver's display device is not installed");
  }
  EXPECT_EQ(display.log, (std::vector<std::string>{"find"}));
}

// The mode is read before anything is written: a mode that cannot be read
// leaves the value as it was, so the device does not attach at the next start.
TEST(DriverAttachment, AModeThatCannotBeReadWritesNothing) {
  FakeDisplay display;
  display.fail = "mode";
  {
    DriverAttachment a(&display);
    std::string error;
    EXPECT_FALSE(a.Attach(&error));
    EXPECT_EQ(error, "cannot read the display mode");
  }
  EXPECT_EQ(display.log, (std::vector<std::string>{"find", "mode"}));
  EXPECT_EQ(display.registry_value, 0);
}

}  // namespace
}  // namespace kmr::platform
