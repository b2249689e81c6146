#include "shared/text/utf16.h"

#include <gtest/gtest.h>

namespace kmr {
namespace {

TEST(Utf16, BothWaysAndWhatIsNotText) {
  EXPECT_EQ(Utf8ToUtf16("Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC"), u"Caf\u00E9 \u20AC \U0001F3AC");
  EXPECT_EQ(Utf16ToUtf8(u"Caf\u00E9 \u20AC \U0001F3AC"), "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC");
  // A cut sequence, an overlong form and a lone continuation byte.
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\x80z"), u"\uFFFDz");
  // A lone surrogate.
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, static_cast<char16_t>(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf8ToUtf16(""), u"");
}

}  // namespace
}  // namespace kmr
