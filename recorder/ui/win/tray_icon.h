// The recorder's icon in the notification area: added with the idle icon and
// the program's title as its tip, switched between the idle and recording
// icons, a balloon with the restore hint, and removed at exit.
#pragma once

#include <windows.h>

#include <string>

namespace kmr::win {

class TrayIcon {
 public:
  static constexpr UINT kCallbackMessage = 2026;
  static constexpr UINT kId = 128;

  TrayIcon(HINSTANCE instance, HWND owner, std::string tip) : instance_(instance), owner_(owner), tip_(std::move(tip)) {}
  ~TrayIcon() { Delete(); }
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Adds the icon (the one last shown; the idle one at first).
  bool Add();
  bool Added() const { return added_; }
  // The shell started again ("TaskbarCreated") and has forgotten its icons:
  // the icon is added anew, as it was.
  bool AddAgain();
  // A given icon resource, the same tip.
  bool Modify(int icon_resource);
  void Delete();
  // An empty text clears the balloon.
  bool Balloon(const std::string& text, const std::string& title, UINT timeout_ms);

 private:
  void Fill(void* data, UINT flags, int icon_resource) const;

  HINSTANCE instance_;
  HWND owner_;
  std::string tip_;
  int icon_ = kId;
  bool added_ = false;
};

}  // namespace kmr::win
