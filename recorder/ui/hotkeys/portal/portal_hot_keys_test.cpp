// The settings' hot keys as the global-shortcuts portal's triggers.
#include "recorder/ui/hotkeys/portal/portal_hot_keys.h"

#include <gtest/gtest.h>

namespace kmr {
namespace {

TEST(ShortcutTrigger, ModifiersThenTheKeysymName) {
  EXPECT_EQ(ShortcutTrigger(0x710000), "F2");
  EXPECT_EQ(ShortcutTrigger(0x780000 | kHotKeyCtrl | kHotKeyShift), "CTRL+SHIFT+F9");
  EXPECT_EQ(ShortcutTrigger(0x410000 | kHotKeyAlt), "ALT+a");
  EXPECT_EQ(ShortcutTrigger(0x210000), "Prior") << "Page Up";
  EXPECT_EQ(ShortcutTrigger(0x0D0000 | kHotKeyCtrl | kHotKeyAlt | kHotKeyShift), "CTRL+ALT+SHIFT+Return");
  EXPECT_EQ(ShortcutTrigger(0xFF0000), "") << "a key without a keysym";
  EXPECT_EQ(ShortcutTrigger(0), "");
}

TEST(PortalHotKeys, NothingIsGrabbedWithoutASession) {
  PortalHotKeys keys;
  std::string error;
  EXPECT_FALSE(keys.Grab(1, 0x710000, &error));
  EXPECT_EQ(error, "the global-shortcuts portal is not open");
  EXPECT_EQ(keys.NextPressed(), -1);
}

}  // namespace
}  // namespace kmr
