// quarn.inf read back by the system's own INF parser (SetupAPI; under
// wine64 here): the display class, the hardware ID, the two files with their
// folders, the kernel service for the miniport and the mirror settings.
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

namespace {

std::string WindowsPath(std::string p) {
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

class QuarnInf : public ::testing::Test {
 protected:
  void SetUp() override {
    UINT line = 0;
    inf_ = SetupOpenInfFileA(WindowsPath(QUARN_INF).c_str(), nullptr, INF_STYLE_WIN4, &line);
    ASSERT_NE(inf_, INVALID_HANDLE_VALUE) << "parse error at line " << line;
  }
  void TearDown() override {
    if (inf_ != INVALID_HANDLE_VALUE) SetupCloseInfFile(inf_);
  }
  // The fields of the line with that key in a section (field 0: the key).
  std::vector<std::string> Line(const char* section, const char* key) {
    INFCONTEXT ctx;
    std::vector<std::string> fields;
    if (!SetupFindFirstLineA(inf_, section, key, &ctx)) return fields;
    const DWORD n = SetupGetFieldCount(&ctx);
    for (DWORD i = 0; i <= n; ++i) {
      char buf[512] = "";
      if (!SetupGetStringFieldA(&ctx, i, buf, sizeof(buf), nullptr)) buf[0] = '\0';
      fields.push_back(buf);
    }
    return fields;
  }
  // Every line's fields of a section, keys first.
  std::vector<std::vector<std::string>> Section(const char* section) {
    std::vector<std::vector<std::string>> lines;
    INFCONTEXT ctx;
    if (!SetupFindFirstLineA(inf_, section, nullptr, &ctx)) return lines;
    do {
      std::vector<std::string> fields;
      const DWORD n = SetupGetFieldCount(&ctx);
      for (DWORD i = 0; i <= n; ++i) {
        char buf[512] = "";
        if (!SetupGetStringFieldA(&ctx, i, buf, sizeof(buf), nullptr)) buf[0] = '\0';
        fields.push_back(buf);
      }
      lines.push_back(fields);
    } while (SetupFindNextLine(&ctx, &ctx));
    return lines;
  }
  HINF inf_ = INVALID_HANDLE_VALUE;
};

TEST_F(QuarnInf, InstallsTheMirrorDriverAndItsMiniportInTheDisplayClass) {
  EXPECT_EQ(Line("Version", "Class").at(1), "Display");
  EXPECT_EQ(Line("Version", "ClassGUID").at(1), "{4D36E968-E325-11CE-BFC1-08002BE10318}");
  EXPECT_EQ(Line("Version", "Signature").at(1), "$CHICAGO$");
  // The model: description, install section, hardware ID.
  const auto model = Section("Norvane");
  ASSERT_EQ(model.size(), 1u);
  ASSERT_EQ(model[0].size(), 3u);
  EXPECT_EQ(model[0][0], "Norvane Screen Capture Driver");
  EXPECT_EQ(model[0][1], "quarn");
  EXPECT_EQ(model[0][2], "Norvane_Screen_Capture_Driver");
  // The files and where they go: the miniport among the drivers (12), the
  // display driver in system32 (11).
  EXPECT_EQ(Line("quarn", "CopyFiles").at(1), "quarn.Miniport");
  EXPECT_EQ(Section("quarn.Miniport").at(0).at(0), "quarn.sys");
  EXPECT_EQ(Section("quarn.Display").at(0).at(0), "quarn.dll");
  EXPECT_EQ(Line("DestinationDirs", "quarn.Miniport").at(1), "12");
  EXPECT_EQ(Line("DestinationDirs", "quarn.Display").at(1), "11");
  EXPECT_EQ(Line("SourceDisksFiles", "quarn.sys").at(1), "1");
  // The service that loads the miniport: kernel driver, in the video group.
  const auto service = Line("quarn.Services", "AddService");
  ASSERT_GE(service.size(), 4u);
  EXPECT_EQ(service[1], "quarn");
  EXPECT_EQ(service[3], "quarn_Service_Inst");
  EXPECT_EQ(Line("quarn_Service_Inst", "ServiceType").at(1), "1");
  EXPECT_EQ(Line("quarn_Service_Inst", "LoadOrderGroup").at(1), "Video");
  EXPECT_NE(Line("quarn_Service_Inst", "ServiceBinary").at(1).find("quarn.sys"), std::string::npos);
  // The mirror settings the display class reads.
  bool mirror = false, drivers = false, attach = false;
  // Fields: root, subkey, value name, type, data.
  for (const auto& l : Section("quarn_SoftwareDeviceSettings")) {
    ASSERT_GE(l.size(), 6u);
    EXPECT_EQ(l[1], "HKR");
    if (l[3] == "MirrorDriver") mirror = l[4] == "0x00010001" && l[5] == "1";
    if (l[3] == "InstalledDisplayDrivers") drivers = l[4] == "0x00010000" && l[5] == "quarn";
    if (l[3] == "Attach.ToDesktop") attach = l[5] == "0";
  }
  EXPECT_TRUE(mirror);
  EXPECT_TRUE(drivers);
  EXPECT_TRUE(attach) << "attached by the recorder, not at install";
}

}  // namespace
