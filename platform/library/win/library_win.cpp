#include <windows.h>

#include "platform/library/library.h"

namespace kmr::platform {

bool DynamicLibrary::Open(const std::string& path) {
  Close();
  // No "cannot find" box from the system for a missing file.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  handle_ = LoadLibraryA(path.c_str());
  const DWORD error = GetLastError();
  SetErrorMode(old_mode);
  if (handle_ == nullptr) {
    error_ = "cannot load " + path + " (error " + std::to_string(error) + ")";
    return false;
  }
  error_.clear();
  return true;
}

void DynamicLibrary::Close() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

std::string DynamicLibrary::FileName(const std::string& name) { return name + ".dll"; }

}  // namespace kmr::platform
