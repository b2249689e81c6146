#include "platform/sync/sync.h"
#include "shared/codec/xvid_library.h"

namespace kmr {

const XvidApi* Xvid(std::string* error) {
  static platform::Mutex mu;
  static XvidApi api;
  static bool tried = false, ok = false;
  static std::string why;
  platform::MutexLock l(mu);
  if (!tried) {
    tried = true;
    ok = LoadXvidLibrary("xvidcore.dll", &api, &why);
  }
  if (!ok) {
    *error = why;
    return nullptr;
  }
  return &api;
}

}  // namespace kmr
