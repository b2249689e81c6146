// A page of the recorder's property sheet: its dialog, its settings, its
// confirm step (which checks and saves them) and what it asks of the sheet.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "recorder/ui/settings/settings_store.h"

namespace kmr {
class RegionTracker;
}

namespace kmr::win {

// What the pages ask of the main window.
class SheetHost {
 public:
  virtual ~SheetHost() = default;
  virtual HWND SheetWindow() const = 0;
  // Posts the "Settings" command: the window comes back to the front.
  virtual void ShowSettings() = 0;
  virtual void ActivatePage(int index) = 0;
  virtual void SetTopmost(bool on) = 0;
  virtual void ShowSplash() = 0;
  virtual void ShowBorder(bool on) = 0;
  // Minimises the window with the restore balloon.
  virtual void MinimiseWithBalloon() = 0;
  // Every page's confirm step, then start or stop.
  virtual void StartStopFromPage() = 0;
  virtual bool IsRecording() const = 0;
  virtual RegionTracker* Tracker() = 0;
};

// A page loads its settings when it is made (the tray menu names the hot
// keys before the pages' windows exist) and shows them when its window is.
class SettingsPage {
 public:
  SettingsPage(int dialog_id, SheetHost* host, SettingsStore* store) : dialog_id_(dialog_id), host_(host), store_(store) {}
  virtual ~SettingsPage() = default;
  SettingsPage(const SettingsPage&) = delete;
  SettingsPage& operator=(const SettingsPage&) = delete;

  HPROPSHEETPAGE Make(HINSTANCE instance);
  HWND Window() const { return hwnd_; }
  bool Created() const { return hwnd_ != nullptr; }
  // Takes the values from the controls with their checks and saves them;
  // false when a check failed (the page then asks for the window).
  virtual bool Confirm() = 0;
  // At exit, without questions: the values as the controls show them.
  virtual void SaveAtExit() { Confirm(); }

 protected:
  virtual void OnInit() = 0;
  // A control's notification; true when handled.
  virtual bool OnCommand(int id, int code) { (void)id; (void)code; return false; }
  virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp) { (void)msg; (void)wp; (void)lp; return false; }
  void SetModified();
  // A range check of a number edit; shows the platform's range message.
  bool ReadNumber(int id, int low, int high, int32_t* value);

  int dialog_id_;
  SheetHost* host_;
  SettingsStore* store_;
  HWND hwnd_ = nullptr;
  HINSTANCE instance_ = nullptr;
  // Off while the page fills its controls: their notifications are not the user's.
  bool ready_ = false;
  // Holds the page's notifications back for as long as it lives.
  class Quiet {
   public:
    explicit Quiet(SettingsPage* page) : page_(page), was_(page->ready_) { page->ready_ = false; }
    ~Quiet() { page_->ready_ = was_; }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

   private:
    SettingsPage* page_;
    bool was_;
  };

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
};

}  // namespace kmr::win
