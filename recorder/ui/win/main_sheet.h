// The recorder's main window: a modeless property sheet with the four
// settings pages, the notification-area icon and its menu, the global hot
// keys, the border around the recorded area, the wallpaper switch and the
// recording's own steps (RecordingHooks) around the recording control.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/notify/win/window_notify_target.h"
#include "recorder/control/recording_controller.h"
#include "recorder/ui/region/region_tracker.h"
#include "recorder/ui/region/win/win_region.h"
#include "recorder/ui/win/audio_page.h"
#include "recorder/ui/win/info_options_pages.h"
#include "recorder/ui/win/recorder_parts.h"
#include "recorder/ui/win/tray_icon.h"
#include "recorder/ui/win/video_page.h"
#include "recorder/ui/win/wallpaper_hider.h"

namespace kmr::win {

inline constexpr UINT kDeferredStartMessage = 2025;

class MainSheet : public SheetHost, public RecordingHooks, private RegionOwner, private platform::MessageSink {
 public:
  MainSheet(HINSTANCE instance, SettingsStore* store);
  ~MainSheet() override;

  // Creates the sheet (hidden until the deferred start-up shows it); false
  // when any step failed.
  bool Create();
  HWND Window() const { return hwnd_; }
  // Runs the messages until the window is gone.
  int Run();

  // SheetHost
  HWND SheetWindow() const override { return hwnd_; }
  void ShowSettings() override;
  void ActivatePage(int index) override;
  void SetTopmost(bool on) override;
  void ShowSplash() override;
  void ShowBorder(bool on) override;
  void MinimiseWithBalloon() override;
  void StartStopFromPage() override;
  bool IsRecording() const override;
  RegionTracker* Tracker() override { return &tracker_; }

  // RecordingHooks
  void OnStarting(const RecordingSettings& settings) override;
  void OnStopped() override;
  void OnPaused() override;
  void OnResumed() override;

 private:
  static LRESULT CALLBACK SheetProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static int CALLBACK SheetCallback(HWND hwnd, UINT msg, LPARAM lp);
  bool OnCreated();
  // True when handled (the result in *result).
  bool Handle(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
  void DeferredStart();
  void OnSysCommand(WPARAM command, LPARAM lp);
  void OnTray(LPARAM event);
  void ShowTrayMenu();
  bool OnMenuCommand(int id);
  void OnHotKey(LPARAM lp);
  void OnActivateApp(bool active);
  void OnClose();
  // The session ends under a recording: it stops, and its file is finished.
  void OnSessionEnding();
  void OnDestroy();
  // Every page's confirm step; false when one refused.
  bool ConfirmAll();
  void ToggleStartStop();
  void TogglePause();
  RecordingSettings CurrentSettings();
  void HideButtons();

  // RegionOwner
  void HideForSelection() override;
  void RestoreAfterSelection() override;
  bool IsVisible() override;
  // MessageSink: the recording's failure texts, over this window.
  void ShowStop(const std::string& text) override;

  HINSTANCE instance_;
  SettingsStore* store_;
  HWND hwnd_ = nullptr;
  WNDPROC sheet_proc_ = nullptr;
  RecorderParts parts_;
  WinBorderWindow border_;
  WinRegionDesktop desktop_{&border_};
  RegionTracker tracker_;
  VideoPage video_;
  AudioPage audio_;
  InfoPage info_;
  OptionsPage options_;
  SettingsPage* pages_[4];
  std::unique_ptr<TrayIcon> tray_;
  std::unique_ptr<platform::WindowNotifyTarget> notify_;
  WallpaperHider wallpaper_;
  bool wallpaper_hidden_ = false;
  bool selection_hid_window_ = false;
  bool in_hot_key_ = false;
  bool in_tray_ = false;
  bool in_start_stop_ = false;
  UINT taskbar_created_ = 0;
  bool in_activation_ = false;
  bool destroyed_ = false;
};

}  // namespace kmr::win
