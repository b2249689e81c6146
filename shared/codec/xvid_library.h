// The three entry points of the xvidcore library, as the lossy codec calls
// them. Linux links the distribution's library; the Windows programs load
// "xvidcore.dll" (the library users of the codec have in their system
// folder) at run time.
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

// A library of that file name loaded and initialised (Windows; tests use a
// stand-in). The library stays loaded for the process.
bool LoadXvidLibrary(const std::string& path, XvidApi* api, std::string* error);

}  // namespace kmr
