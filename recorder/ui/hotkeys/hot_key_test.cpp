#include "recorder/ui/hotkeys/hot_key.h"

#include <gtest/gtest.h>

#include "recorder/ui/settings/settings_pages.h"

namespace kmr {
namespace {

TEST(HotKeys, ValuesNamesAndMatching) {
  const uint32_t f9 = HotKeyValue(0x78, kHotKeyCtrl | kHotKeyShift);
  EXPECT_EQ(HotKeyName(f9), "Ctrl + Shift + F9");
  EXPECT_EQ(HotKeyName(HotKeyValue(0x71)), "F2");
  EXPECT_EQ(HotKeyName(HotKeyValue(0x21, kHotKeyAlt) | (1u << 24)), "Alt + Page Up");  // an extended key
  EXPECT_EQ(VirtualKeyName(0x41), "A");
  EXPECT_EQ(VirtualKeyName(0x87), "F24");
  EXPECT_EQ(VirtualKeyName(0xE7), "");
  // The extended-key flag and other bits do not take part.
  EXPECT_TRUE(HotKeysMatch(f9, f9 | (1u << 24) | 0x8000));
  EXPECT_FALSE(HotKeysMatch(f9, HotKeyValue(0x78, kHotKeyCtrl)));
  EXPECT_FALSE(HotKeysMatch(f9, HotKeyValue(0x77, kHotKeyCtrl | kHotKeyShift)));
}

}  // namespace
}  // namespace kmr
