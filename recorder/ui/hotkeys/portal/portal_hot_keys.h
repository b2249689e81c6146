// Hot keys on a Wayland desktop that offers the global-shortcuts portal
// (org.freedesktop.portal.GlobalShortcuts): the keys are bound as named
// shortcuts with the settings' keys as the preferred triggers (the desktop
// may ask the user, who may choose other keys), and their Activated
// signals come back as presses.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "recorder/ui/hotkeys/hot_key.h"

namespace kmr {

// A hot key as a shortcut trigger ("CTRL+SHIFT+F9": the modifiers, then the
// key's keysym name); empty for keys without one.
std::string ShortcutTrigger(uint32_t value);

class PortalHotKeys : public HotKeySource {
 public:
  PortalHotKeys();
  ~PortalHotKeys() override;
  PortalHotKeys(const PortalHotKeys&) = delete;
  PortalHotKeys& operator=(const PortalHotKeys&) = delete;

  // Makes a global-shortcuts session; false with *why where the desktop
  // has no such portal (or refused).
  bool Open(std::string* why);
  // What the desktop shows for the key (before Grab).
  void SetDescription(int id, const std::string& text) { descriptions_[id] = text; }
  // Binds this key with those grabbed before (the desktop sees them all
  // each time). *error when the desktop refused.
  bool Grab(int id, uint32_t value, std::string* error) override;
  void Release(int id) override;
  int NextPressed() override;
  // The trigger the desktop bound for the key, as it describes it (empty
  // when it did not say).
  std::string BoundTrigger(int id) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::map<int, std::string> descriptions_;
};

}  // namespace kmr
