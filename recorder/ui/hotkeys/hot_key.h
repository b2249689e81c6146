// Global hot keys as the settings store them: a virtual-key code in bits
// 16..23, the extended-key flag in bit 24 and the modifiers (1 Alt, 2 Ctrl,
// 4 Shift) in the low word. Two hot keys match on the key code and the
// modifiers only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kmr {

inline constexpr uint32_t kHotKeyAlt = 1;
inline constexpr uint32_t kHotKeyCtrl = 2;
inline constexpr uint32_t kHotKeyShift = 4;

inline uint32_t HotKeyCode(uint32_t value) { return (value >> 16) & 0xFF; }
inline uint32_t HotKeyModifiers(uint32_t value) { return value & (kHotKeyAlt | kHotKeyCtrl | kHotKeyShift); }
inline bool HotKeysMatch(uint32_t a, uint32_t b) {
  return HotKeyCode(a) == HotKeyCode(b) && HotKeyModifiers(a) == HotKeyModifiers(b);
}

// "Ctrl + Shift + F9": the modifiers, then the key's name ("" for a key
// without a name here).
std::string HotKeyName(uint32_t value);
// The same with the key named by key_name, given the key code with the
// extended-key flag 0x100 (the keyboard layout's names on Windows).
std::string HotKeyName(uint32_t value, const std::function<std::string(uint32_t code)>& key_name);
// The key's own name ("F2", "Page Up", "A"), empty for codes not known.
std::string VirtualKeyName(uint32_t code);

// Receives the pressed hot keys of a desktop.
class HotKeySource {
 public:
  virtual ~HotKeySource() = default;
  // Takes the key combination globally; false with *error (one line) when
  // the desktop has no such key or another program holds it.
  virtual bool Grab(int id, uint32_t value, std::string* error) = 0;
  virtual void Release(int id) = 0;
  // The id of a grabbed hot key pressed since the last call, or -1.
  virtual int NextPressed() = 0;
};

}  // namespace kmr
