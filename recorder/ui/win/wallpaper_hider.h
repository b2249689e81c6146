// Hides the desktop's pattern, wallpaper and active desktop while recording
// (a plain desktop codes smaller) and puts them back afterwards.
#pragma once

#include <string>

namespace kmr::win {

// Hide and Restore come in pairs: a second Hide keeps what the first saved
// (the desktop is plain by then), a Restore with nothing hidden does nothing.
class WallpaperHider {
 public:
  void Hide();
  void Restore();
  bool Hidden() const { return hidden_; }

  const std::string& SavedPattern() const { return pattern_; }
  const std::string& SavedWallpaper() const { return wallpaper_; }
  bool SwitchedOffActiveDesktop() const { return active_desktop_off_; }

 private:
  std::string pattern_;    // up to 40 characters
  std::string wallpaper_;  // up to 260 characters
  bool active_desktop_off_ = false;
  bool hidden_ = false;
};

// Whether the shell library is newer than 4.70 (it has the active desktop).
bool ShellHasActiveDesktop();

}  // namespace kmr::win
