#include "shared/text/format_text.h"

#include <cstdio>

namespace kmr {

namespace {
template <typename... Args>
std::string Format(const char* format, Args... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n < 0) return format;
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.resize(static_cast<size_t>(n));
  return out;
}
}  // namespace

std::string FormatText(const char* format, const std::string& text) { return Format(format, text.c_str()); }
std::string FormatText(const char* format, int a, int b) { return Format(format, a, b); }

}  // namespace kmr
