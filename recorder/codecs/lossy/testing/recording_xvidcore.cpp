// A stand-in for the xvidcore library that codes nothing: it keeps a line
// per call with the arguments the codec passes (sizes, colour space, where
// the plane lies and its stride), read by tests through kmrTestXvidCalls
// and kmrTestXvidPlane. Each coded tile is five bytes; the first frame of
// an encoder is a key frame.
#include <xvid.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "shared/testing/export.h"


namespace {
std::string g_calls;
const void* g_planes[64];
int g_plane_count = 0;
int g_next_handle = 1;
int g_frames[64];
}  // namespace

KMR_EXPORT const char* kmrTestXvidCalls() { return g_calls.c_str(); }
// The plane pointer of the n-th encode or decode call.
KMR_EXPORT const void* kmrTestXvidPlane(int n) { return n >= 0 && n < g_plane_count ? g_planes[n] : nullptr; }

KMR_EXPORT int xvid_global(void*, int opt, void* param1, void*) {
  if (opt != XVID_GBL_INIT) return -1;
  g_calls += "init " + std::to_string(static_cast<xvid_gbl_init_t*>(param1)->version) + ";";
  return 0;
}

KMR_EXPORT int xvid_encore(void* handle, int opt, void* param1, void*) {
  if (opt == XVID_ENC_CREATE) {
    auto* c = static_cast<xvid_enc_create_t*>(param1);
    g_calls += "create " + std::to_string(c->width) + "x" + std::to_string(c->height) + " profile " +
               std::to_string(c->profile) + " fps " + std::to_string(c->fbase) + " key " +
               std::to_string(c->max_key_interval) + " b " + std::to_string(c->max_bframes) + ";";
    const int h = g_next_handle++;
    g_frames[h % 64] = 0;
    c->handle = reinterpret_cast<void*>(static_cast<intptr_t>(h));
    return 0;
  }
  if (opt == XVID_ENC_DESTROY) {
    g_calls += "destroy;";
    return 0;
  }
  auto* f = static_cast<xvid_enc_frame_t*>(param1);
  const int h = static_cast<int>(reinterpret_cast<intptr_t>(handle));
  g_calls += "encode " + std::to_string(h) + " csp " + std::to_string(f->input.csp) + " stride " +
             std::to_string(f->input.stride[0]) + " quant " + std::to_string(f->quant) + " vol " +
             std::to_string(f->vol_flags) + ";";
  if (g_plane_count < 64) g_planes[g_plane_count++] = f->input.plane[0];
  std::memcpy(f->bitstream, "tile!", 5);
  f->out_flags = g_frames[h % 64]++ == 0 ? XVID_KEYFRAME : 0;
  return 5;
}

KMR_EXPORT int xvid_decore(void* handle, int opt, void* param1, void* param2) {
  if (opt == XVID_DEC_CREATE) {
    auto* c = static_cast<xvid_dec_create_t*>(param1);
    g_calls += "dcreate " + std::to_string(c->width) + "x" + std::to_string(c->height) + ";";
    c->handle = reinterpret_cast<void*>(static_cast<intptr_t>(g_next_handle++));
    return 0;
  }
  if (opt == XVID_DEC_DESTROY) return 0;
  auto* f = static_cast<xvid_dec_frame_t*>(param1);
  g_calls += "decode " + std::to_string(static_cast<int>(reinterpret_cast<intptr_t>(handle))) + " csp " +
             std::to_string(f->output.csp) + " stride " + std::to_string(f->output.stride[0]) + " bytes " +
             std::to_string(f->length) + ";";
  if (g_plane_count < 64) g_planes[g_plane_count++] = f->output.plane[0];
  if (param2 != nullptr) static_cast<xvid_dec_stats_t*>(param2)->type = XVID_TYPE_IVOP;
  return f->length;
}
