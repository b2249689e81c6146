// The system's desktop duplication (DXGI 1.2, Windows 8 and later) as the
// duplication mirror's system: d3d11.dll and dxgi.dll are loaded at run time,
// so that the program still starts on systems without them (Windows XP).
#pragma once

#include <windows.h>
#include <d3d11.h>
#include <dxgi1_2.h>

#include <memory>

#include "platform/mirror/duplication_mirror.h"

namespace kmr::platform {

// Null when the libraries are missing; Outputs() then says why nothing can
// be duplicated (older Windows, remote sessions, Wine).
std::unique_ptr<DuplicationSystem> MakeDxgiDuplicationSystem();

// The same over given entry points (the tests' stand-ins).
using CreateDxgiFactory = HRESULT(WINAPI*)(REFIID, void**);
using CreateD3d11Device = HRESULT(WINAPI*)(IDXGIAdapter*, D3D_DRIVER_TYPE, HMODULE, UINT, const D3D_FEATURE_LEVEL*,
                                           UINT, UINT, ID3D11Device**, D3D_FEATURE_LEVEL*, ID3D11DeviceContext**);
std::unique_ptr<DuplicationSystem> MakeDxgiDuplicationSystem(CreateDxgiFactory create_factory,
                                                             CreateD3d11Device create_device);

}  // namespace kmr::platform
