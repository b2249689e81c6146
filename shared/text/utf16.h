// UTF-8 and UTF-16 text, each way. Bytes or units that do not form a
// character become U+FFFD.
#pragma once

#include <string>

namespace kmr {

std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

}  // namespace kmr
