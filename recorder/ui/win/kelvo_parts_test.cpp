// Parts of the Windows recorder's window on the real system (under wine64):
// the wallpaper switch, the key names from the keyboard layout and the
// notification-area icon.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "recorder/ui/win/tray_icon.h"
#include "recorder/ui/win/video_page.h"
#include "recorder/ui/win/win_ui.h"
#include "recorder/ui/win/wallpaper_hider.h"

namespace kmr::win {
namespace {

std::string Wallpaper() {
  char path[MAX_PATH] = "";
  SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH - 1, path, 0);
  return path;
}

std::string Pattern() {
  char pattern[64] = "";
  GetProfileStringA("Desktop", "Pattern", "", pattern, sizeof(pattern));
  return pattern;
}

// A 2 x 2 bitmap file to be the wallpaper.
std::string MakeBitmap() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "kmr_wallpaper.bmp";
  const unsigned char bmp[] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0,
                               0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 0, 0, 0};
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bmp, 1, sizeof(bmp), f);
    std::fclose(f);
  }
  return path;
}

TEST(WallpaperHider, HidesTheWallpaperAndPatternWhileRecordingAndPutsThemBack) {
  const std::string bitmap = MakeBitmap();
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, const_cast<char*>(bitmap.c_str()), SPIF_UPDATEINIFILE));
  ASSERT_EQ(Wallpaper(), bitmap);
  ASSERT_TRUE(WriteProfileStringA("Desktop", "Pattern", "170 85 170 85 170 85 170 85"));

  WallpaperHider hider;
  hider.Hide();
  EXPECT_EQ(hider.SavedWallpaper(), bitmap);
  EXPECT_EQ(hider.SavedPattern(), "170 85 170 85 170 85 170 85");
  EXPECT_EQ(Wallpaper(), "");
  hider.Restore();
  EXPECT_EQ(Wallpaper(), bitmap);
  EXPECT_EQ(Pattern(), "170 85 170 85 170 85 170 85");
  EXPECT_EQ(hider.SavedWallpaper(), "");
  EXPECT_EQ(hider.SavedPattern(), "");

  // A second hide (a start inside another start's message box) keeps what
  // the first saved, and the user's wallpaper still comes back.
  hider.Hide();
  hider.Hide();
  EXPECT_EQ(hider.SavedWallpaper(), bitmap);
  hider.Restore();
  hider.Restore();
  EXPECT_EQ(Wallpaper(), bitmap);
  EXPECT_EQ(Pattern(), "170 85 170 85 170 85 170 85");

  // Nothing to hide: nothing is saved and nothing comes back.
  char none[1] = "";
  SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, none, SPIF_UPDATEINIFILE);
  WriteProfileStringA("Desktop", "Pattern", nullptr);
  WallpaperHider plain;
  plain.Hide();
  EXPECT_EQ(plain.SavedWallpaper(), "");
  EXPECT_EQ(plain.SavedPattern(), "");
  plain.Restore();
  EXPECT_EQ(Wallpaper(), "");
  DeleteFileA(bitmap.c_str());
}

TEST(HotKeyNames, FromTheKeyboardLayoutWithTheExtendedFlag) {
  EXPECT_EQ(LayoutKeyName(0x78), "F9");
  EXPECT_EQ(HotKeyText(0x00780006u), "Ctrl + Shift + F9");
  // Page Up is an extended key; without the flag its scan code is the
  // keypad's 9.
  const std::string page_up = LayoutKeyName(0x121);
  EXPECT_FALSE(page_up.empty());
  EXPECT_NE(page_up, LayoutKeyName(0x21 | 0)) << page_up;
  for (uint32_t code : HotKeyListCodes()) EXPECT_FALSE(LayoutKeyName(code).empty()) << code;
}

// A compressor's name comes as UTF-8; the ANSI list shows it in the
// system's code page, not as UTF-8 bytes read as that code page.
TEST(CodecList, ANameInUtf8ShowsInTheSystemsCodePage) {
  HWND dialog = CreateWindowExA(0, "STATIC", "dialog", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(dialog, nullptr);
  HWND combo = CreateWindowExA(0, "COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 100, 100, dialog,
                               reinterpret_cast<HMENU>(77), nullptr, nullptr);
  ASSERT_NE(combo, nullptr);
  const std::string utf8 = "Codec f\xC3\xBCr Bildschirme";  // "für"
  ASSERT_GE(AddUtf8Item(dialog, 77, utf8, 5), 0);
  const wchar_t wide[] = L"Codec f\u00FCr Bildschirme";
  char expected[64] = "";
  WideCharToMultiByte(CP_ACP, 0, wide, -1, expected, sizeof(expected), nullptr, nullptr);
  char shown[64] = "";
  SendMessageA(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(shown));
  EXPECT_STREQ(shown, expected);
  if (GetACP() != CP_UTF8) {
    EXPECT_NE(std::string(shown), utf8) << "UTF-8 bytes in an ANSI list";
  }
  EXPECT_EQ(ItemData(dialog, 77, 0), 5);
  DestroyWindow(dialog);
}

TEST(TrayIconTest, AddsSwitchesShowsABalloonAndGoes) {
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  {
    TrayIcon icon(GetModuleHandleA(nullptr), owner, std::string(80, 'x'));
    EXPECT_TRUE(icon.Add()) << "a 63-character tip at most";
    EXPECT_TRUE(icon.Balloon("Double-click icon to restore main window.", "Kelvo", 1000));
    EXPECT_TRUE(icon.Balloon("", "Kelvo", 1000));
    icon.Delete();
  }
  DestroyWindow(owner);
}

// A shell that starts again has forgotten every icon: the recorder's is
// added anew, the one it showed last, and a failed add is known.
TEST(TrayIconTest, ComesBackWhenTheShellStartsAgain) {
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  {
    TrayIcon icon(GetModuleHandleA(nullptr), owner, "Kelvo");
    ASSERT_TRUE(icon.Add());
    EXPECT_TRUE(icon.Added());
    // The shell forgets it (as a new shell would).
    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
    nid.hWnd = owner;
    nid.uID = TrayIcon::kId;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &nid));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &nid)) << "still there";
    EXPECT_TRUE(icon.AddAgain());
    EXPECT_TRUE(icon.Added());
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &nid)) << "not back";
    icon.Delete();
    EXPECT_FALSE(icon.Added());
  }
  DestroyWindow(owner);
}

}  // namespace
}  // namespace kmr::win
