// The Win32 steps of attaching a mirror driver's display device to the
// desktop: finding the device by its description, the registry value
// "Attach.ToDesktop" under the service's hardware-profile key (open to
// everyone, so the recorder can write it), and the display settings changed
// on the input desktop. The recorder's mirror adds the driver's device
// context; the driver installer uses the steps as they are.
#pragma once

#include <windows.h>

#include <string>

#include "platform/mirror/driver_attachment.h"

namespace kmr::platform {

class WinDisplayAttachSteps : public DisplayAttachSteps {
 public:
  // device_info_size: the DISPLAY_DEVICEA size given to the system when the
  // devices are listed (168: the members up to StateFlags; 424: all of it).
  WinDisplayAttachSteps(std::string service, std::string device_string, DWORD device_info_size = 168);

  bool FindDevice(std::string* device_name) override;
  bool WriteAttachValue(const std::string& device_name, bool attach) override;
  bool ReadMode(DisplayMode* mode) override;
  bool ApplySettings(const std::string& device_name, const DisplayMode& mode) override;
  // No device context here.
  bool OpenDriver(const std::string& device_name) override {
    (void)device_name;
    return true;
  }
  void CloseDriver() override {}

  // Whether a display device with that description exists.
  static bool DeviceExists(const std::string& device_string);

 private:
  std::string service_, device_string_;
  DWORD device_info_size_;
};

}  // namespace kmr::platform
