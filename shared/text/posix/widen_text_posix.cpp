// Narrow text on Linux is UTF-8.
#include <string>

#include "shared/text/widen_text.h"
#include "shared/text/utf16.h"

namespace kmr {

std::u16string WidenSystemText(const std::string& text) { return Utf8ToUtf16(text); }

}  // namespace kmr
