// The Info page (the texts Windows Media files carry) and the Options page
// (start-up, window and recording options, and what to do with an existing
// output file).
#pragma once

#include "recorder/ui/settings/settings_pages.h"
#include "recorder/ui/win/settings_page.h"

namespace kmr::win {

class InfoPage : public SettingsPage {
 public:
  InfoPage(SheetHost* host, SettingsStore* store);
  bool Confirm() override;
  const InfoSettings& Texts();

 protected:
  void OnInit() override;

 private:
  void Take();
  InfoSettings settings_;
};

class OptionsPage : public SettingsPage {
 public:
  OptionsPage(SheetHost* host, SettingsStore* store);
  bool Confirm() override;
  const OptionsSettings& Values() const { return settings_; }

 protected:
  void OnInit() override;
  bool OnCommand(int id, int code) override;

 private:
  void Take();
  OptionsSettings settings_;
};

}  // namespace kmr::win
