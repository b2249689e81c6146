// The recorder's side of the mirror driver's escapes: maps the surface and
// the change ring, turns tracking on and off, and unmaps in the driver's
// order. One client for every way of reaching the driver: the platform's
// escape call on the driver's device context on Windows, the driver's own
// DrvEscape on the fake graphics engine in tests.
#pragma once

#include <cstdint>

#include "driver/quarn_protocol.h"

namespace kmr::platform {

class QuarnEscapes {
 public:
  virtual ~QuarnEscapes() = default;
  // The escape's result: positive for success, 0 when the driver refused.
  virtual int Escape(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size) = 0;
  // The memory at an address a mapping reply gave.
  virtual uint8_t* Pointer(uint32_t address) = 0;
};

class QuarnClient {
 public:
  explicit QuarnClient(QuarnEscapes* escapes) : escapes_(escapes) {}

  // Width, height and depth of the driver's mode; false when it does not say.
  bool QueryMode(uint32_t* width, uint32_t* height, uint32_t* bits);
  // Maps the surface, a ring of that capacity and turns tracking on. False
  // (with whatever was mapped still to be closed) when any step fails.
  bool Open(uint32_t ring_capacity);
  // Unmaps the ring, then the surface; safe to call at any time.
  void Close();
  bool SetTracking(bool on);

  uint8_t* Surface() const { return surface_; }
  uint8_t* Ring() const { return ring_; }

 private:
  uint8_t* Map(uint32_t code, const void* in, uint32_t in_size);

  QuarnEscapes* escapes_;
  uint8_t* surface_ = nullptr;
  uint8_t* ring_ = nullptr;
  bool ring_mapped_ = false, surface_mapped_ = false;
};

}  // namespace kmr::platform
