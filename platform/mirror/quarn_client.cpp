#include "platform/mirror/quarn_client.h"

namespace kmr::platform {

bool QuarnClient::QueryMode(uint32_t* width, uint32_t* height, uint32_t* bits) {
  uint8_t out[4] = {};
  if (escapes_->Escape(QUARN_ESC_QUERY_MODE, nullptr, 0, out, 4) < 1) return false;
  const uint32_t mode = static_cast<uint32_t>(out[0]) | (static_cast<uint32_t>(out[1]) << 8) |
                        (static_cast<uint32_t>(out[2]) << 16) | (static_cast<uint32_t>(out[3]) << 24);
  *width = mode & 0xFFF;
  *height = (mode >> 12) & 0xFFF;
  *bits = mode >> 24;
  return true;
}

uint8_t* QuarnClient::Map(uint32_t code, const void* in, uint32_t in_size) {
  uint8_t reply[QUARN_MAPPING_REPLY_BYTES] = {};
  if (escapes_->Escape(code, in, in_size, reply, sizeof(reply)) < 1) return nullptr;
  const uint32_t address = quarn_mapping_reply_word(reply, 0);
  return address == 0 ? nullptr : escapes_->Pointer(address);
}

bool QuarnClient::Open(uint32_t ring_capacity) {
  Close();
  surface_ = Map(QUARN_ESC_MAP_SURFACE, nullptr, 0);
  surface_mapped_ = true;  // a refused map is still unmapped: harmless
  if (surface_ == nullptr) return false;
  uint8_t capacity[4] = {static_cast<uint8_t>(ring_capacity), static_cast<uint8_t>(ring_capacity >> 8),
                         static_cast<uint8_t>(ring_capacity >> 16), static_cast<uint8_t>(ring_capacity >> 24)};
  ring_ = Map(QUARN_ESC_MAP_CHANGE_RING, capacity, 4);
  ring_mapped_ = true;
  if (ring_ == nullptr) return false;
  return SetTracking(true);
}

void QuarnClient::Close() {
  // The ring first: the driver stops recording into it before the surface goes.
  if (ring_mapped_) escapes_->Escape(QUARN_ESC_UNMAP_CHANGE_RING, nullptr, 0, nullptr, 0);
  if (surface_mapped_) escapes_->Escape(QUARN_ESC_UNMAP_SURFACE, nullptr, 0, nullptr, 0);
  ring_ = surface_ = nullptr;
  ring_mapped_ = surface_mapped_ = false;
}

bool QuarnClient::SetTracking(bool on) {
  return escapes_->Escape(on ? QUARN_ESC_ENABLE_TRACKING : QUARN_ESC_DISABLE_TRACKING, nullptr, 0, nullptr, 0) >= 1;
}

}  // namespace kmr::platform
