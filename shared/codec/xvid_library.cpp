#include "shared/codec/xvid_library.h"

#include <xvid.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/library/library.h"
#include "platform/sync/sync.h"

namespace kmr {

bool LoadXvidLibrary(const std::string& path, XvidApi* api, std::string* error) {
  // Loaded libraries stay for the process: their encoders may outlive a caller.
  static platform::Mutex mu;
  static std::vector<std::unique_ptr<platform::DynamicLibrary>> loaded;
  platform::MutexLock l(mu);
  auto library = std::make_unique<platform::DynamicLibrary>();
  if (!library->Open(path)) {
    *error = "the lossy codec needs " + path + ": " + library->Error();
    return false;
  }
  XvidApi a;
  a.global = reinterpret_cast<int (*)(void*, int, void*, void*)>(library->Symbol("xvid_global"));
  a.encore = reinterpret_cast<int (*)(void*, int, void*, void*)>(library->Symbol("xvid_encore"));
  a.decore = reinterpret_cast<int (*)(void*, int, void*, void*)>(library->Symbol("xvid_decore"));
  if (a.global == nullptr || a.encore == nullptr || a.decore == nullptr) {
    *error = path + " is not the xvidcore library (an entry point is missing)";
    return false;
  }
  xvid_gbl_init_t init;
  std::memset(&init, 0, sizeof(init));
  init.version = kXvidVersion;
  if (a.global(nullptr, XVID_GBL_INIT, &init, nullptr) < 0) {
    *error = "the xvidcore library refused to start";
    return false;
  }
  *api = a;
  loaded.push_back(std::move(library));
  return true;
}

}  // namespace kmr
