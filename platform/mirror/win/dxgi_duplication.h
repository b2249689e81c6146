// The system's desktop duplication (DXGI 1.2, Windows 8 and later) as the
// duplication mirror's system: d3d11.dll and dxgi.dll are loaded at run time,
// so that the program still starts on systems without them (Windows XP).
#pragma once

#include <memory>

#include "platform/mirror/duplication_mirror.h"

namespace kmr::platform {

// Null when the libraries are missing; Outputs() then says why nothing can
// be duplicated (older Windows, remote sessions, Wine).
std::unique_ptr<DuplicationSystem> MakeDxgiDuplicationSystem();

}  // namespace kmr::platform
