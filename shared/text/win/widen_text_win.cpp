// Narrow text on Windows is in the system's ANSI code page.
#include <windows.h>

#include <string>

#include "shared/text/widen_text.h"

namespace kmr {

std::u16string WidenSystemText(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(out.data()),
                      n);
  return out;
}

}  // namespace kmr
