// The system's narrow text as UTF-16: the ANSI code page on Windows, UTF-8
// on Linux (paths and texts handed to interfaces that take UTF-16).
#pragma once

#include <string>

namespace kmr {

std::u16string WidenSystemText(const std::string& text);

}  // namespace kmr
