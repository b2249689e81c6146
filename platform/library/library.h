// A library loaded at run time by name, and its entry points looked up by
// name (LoadLibrary and GetProcAddress on Windows, dlopen and dlsym on Linux).
#pragma once

#include <string>

namespace kmr::platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary() { Close(); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Releases any library loaded before; false (Error says why) when the
  // file cannot be loaded. A name without a folder is searched for the
  // platform's usual way.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }
  // The entry point's address, or null when the library has none by that name.
  void* Symbol(const char* name) const;
  const std::string& Error() const { return error_; }

  // The platform's file name of a library: "name.dll" or "name.so".
  static std::string FileName(const std::string& name);

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace kmr::platform
