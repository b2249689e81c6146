// The about and splash window: the program's picture area, its name, version
// and notice from the version information, and a link line to the web page.
// As a splash it is topmost, without a task-bar button, and goes after 3
// seconds or a click; as the about window it is modal.
#pragma once

#include <windows.h>

#include <string>

namespace kmr::win {

inline constexpr const char* kHomePage = "http://www.norvane.com/kelvo/";
inline constexpr const char* kHelpPage = "http://www.norvane.com/kelvo/help/";
inline constexpr UINT kSplashMs = 3000;

// A text of the program's own version information ("ProductName", ...);
// empty when there is none.
std::string OwnVersionText(const char* name);

class SplashWindow {
 public:
  static constexpr const char* kClassName = "KelvoAbout";
  // Shows the splash and returns; it closes itself.
  static void ShowSplash(HINSTANCE instance);
  // Shows the about window and returns when it is closed.
  static void ShowAbout(HINSTANCE instance, HWND owner);
  // The open splash or about window, if any.
  static HWND Current();

 private:
  static bool Register(HINSTANCE instance);
  static HWND Create(HINSTANCE instance, HWND owner, bool splash);
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
};

}  // namespace kmr::win
