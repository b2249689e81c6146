// printf-style formatting of the program's fixed texts into a std::string
// (a path or a number put into a message).
#pragma once

#include <string>

namespace kmr {

std::string FormatText(const char* format, const std::string& text);
std::string FormatText(const char* format, int a, int b);

}  // namespace kmr
