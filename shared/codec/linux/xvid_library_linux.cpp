#include <xvid.h>

#include <cstring>

#include "platform/sync/sync.h"
#include "shared/codec/xvid_library.h"

namespace kmr {

const XvidApi* Xvid(std::string* error) {
  static platform::Mutex mu;
  static XvidApi api;
  static bool tried = false, ok = false;
  platform::MutexLock l(mu);
  if (!tried) {
    tried = true;
    xvid_gbl_init_t init;
    std::memset(&init, 0, sizeof(init));
    init.version = kXvidVersion;
    init.cpu_flags = 0;  // detect
    init.debug = 0;
    ok = xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr) >= 0;
    api.global = xvid_global;
    api.encore = xvid_encore;
    api.decore = xvid_decore;
  }
  if (!ok) {
    *error = "the xvidcore library refused to start";
    return nullptr;
  }
  return &api;
}

}  // namespace kmr
