#include "recorder/ui/hotkeys/hot_key.h"

namespace kmr {

std::string VirtualKeyName(uint32_t code) {
  if (code >= 0x70 && code <= 0x87) return "F" + std::to_string(code - 0x70 + 1);
  if ((code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x5A)) return std::string(1, static_cast<char>(code));
  if (code >= 0x60 && code <= 0x69) return "Num " + std::to_string(code - 0x60);
  switch (code) {
    case 0x08: return "Backspace";
    case 0x09: return "Tab";
    case 0x0D: return "Enter";
    case 0x13: return "Pause";
    case 0x1B: return "Esc";
    case 0x20: return "Space";
    case 0x21: return "Page Up";
    case 0x22: return "Page Down";
    case 0x23: return "End";
    case 0x24: return "Home";
    case 0x25: return "Left";
    case 0x26: return "Up";
    case 0x27: return "Right";
    case 0x28: return "Down";
    case 0x2C: return "Print Screen";
    case 0x2D: return "Insert";
    case 0x2E: return "Delete";
    case 0x6A: return "Num *";
    case 0x6B: return "Num +";
    case 0x6D: return "Num -";
    case 0x6E: return "Num .";
    case 0x6F: return "Num /";
    case 0x91: return "Scroll Lock";
    default: return {};
  }
}

std::string HotKeyName(uint32_t value, const std::function<std::string(uint32_t)>& key_name) {
  std::string out;
  const uint32_t m = HotKeyModifiers(value);
  if (m & kHotKeyAlt) out += "Alt + ";
  if (m & kHotKeyCtrl) out += "Ctrl + ";
  if (m & kHotKeyShift) out += "Shift + ";
  return out + key_name((value >> 16) & 0x1FF);
}

std::string HotKeyName(uint32_t value) {
  return HotKeyName(value, [](uint32_t code) { return VirtualKeyName(code & 0xFF); });
}

}  // namespace kmr
