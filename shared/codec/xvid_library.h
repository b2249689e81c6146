// The three entry points of the xvidcore library, as the lossy codec calls
// them. Linux links the distribution's library (xvid_library_linux.cpp).
#pragma once

#include <string>

namespace kmr {

// The structure version the codec's calls are made with (xvidcore 1.1.2).
inline constexpr int kXvidVersion = 0x010102;

struct XvidApi {
  int (*global)(void* handle, int opt, void* param1, void* param2) = nullptr;
  int (*encore)(void* handle, int opt, void* param1, void* param2) = nullptr;
  int (*decore)(void* handle, int opt, void* param1, void* param2) = nullptr;
};

// The entry points, with the library initialised once per process; null
// when the library is missing or refuses (*error says why).
const XvidApi* Xvid(std::string* error);

}  // namespace kmr
