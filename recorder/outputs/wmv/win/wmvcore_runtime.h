// The Windows Media runtime over the entry points of "wmvcore.dll", or over
// given ones (tests hand in objects of their own).
#pragma once

#include <windows.h>
#include <wmsdkidl.h>

#include <memory>

#include "recorder/outputs/wmv/wm_runtime.h"

namespace kmr {

using WmCreateWriterFn = HRESULT(WINAPI*)(IUnknown*, IWMWriter**);
using WmCreateProfileManagerFn = HRESULT(WINAPI*)(IWMProfileManager**);

std::unique_ptr<WmRuntimeFactory> MakeWmvcoreFactory(WmCreateWriterFn create_writer,
                                                     WmCreateProfileManagerFn create_profile_manager);

}  // namespace kmr
