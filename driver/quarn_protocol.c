#include "quarn_protocol.h"

static uint32_t load32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static void store32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

size_t quarn_ring_bytes(uint32_t capacity) {
  const uint64_t bytes = (uint64_t)capacity * QUARN_RING_SLOT_BYTES + QUARN_RING_HEADER_BYTES;
  if (capacity == 0 || bytes > (uint64_t)0x7FFFFFFF) return 0;
  return (size_t)bytes;
}

void quarn_ring_init(uint8_t* ring, uint32_t capacity) {
  size_t n = quarn_ring_bytes(capacity);
  size_t i;
  for (i = 0; i < n; ++i) ring[i] = 0;
  store32(ring, capacity);
}

uint32_t quarn_ring_capacity(const uint8_t* ring) { return load32(ring); }

uint32_t* quarn_ring_write_word(uint8_t* ring) { return (uint32_t*)(void*)(ring + 4); }

uint32_t quarn_ring_write_sequence(const uint8_t* ring) {
  return __atomic_load_n((const uint32_t*)(const void*)(ring + 4), __ATOMIC_ACQUIRE);
}

uint32_t quarn_ring_read_sequence(const uint8_t* ring) { return load32(ring + 8); }

uint32_t quarn_ring_next_sequence(uint8_t* ring) {
  return __atomic_add_fetch(quarn_ring_write_word(ring), 1u, __ATOMIC_ACQ_REL);
}

void quarn_ring_store(uint8_t* ring, uint32_t capacity, uint32_t sequence, const QuarnRect* rect) {
  uint8_t* slot;
  if (capacity == 0) return;
  slot = ring + QUARN_RING_HEADER_BYTES + (size_t)(sequence % capacity) * QUARN_RING_SLOT_BYTES;
  store32(slot, (uint32_t)rect->left);
  store32(slot + 4, (uint32_t)rect->top);
  store32(slot + 8, (uint32_t)rect->right);
  store32(slot + 12, (uint32_t)rect->bottom);
}

void quarn_ring_add(uint8_t* ring, const QuarnRect* rect) {
  const uint32_t capacity = quarn_ring_capacity(ring);
  if (capacity == 0) return;
  quarn_ring_store(ring, capacity, quarn_ring_next_sequence(ring), rect);
}

uint32_t quarn_ring_drain(uint8_t* ring, quarn_rect_visitor visit, void* context) {
  const uint32_t capacity = quarn_ring_capacity(ring);
  const uint32_t write = quarn_ring_write_sequence(ring);
  uint32_t read = quarn_ring_read_sequence(ring);
  uint32_t count = 0;
  if (capacity == 0) return 0;
  while (read != write) {
    const uint8_t* slot;
    QuarnRect r;
    ++read;
    slot = ring + QUARN_RING_HEADER_BYTES + (size_t)(read % capacity) * QUARN_RING_SLOT_BYTES;
    r.left = (int32_t)load32(slot);
    r.top = (int32_t)load32(slot + 4);
    r.right = (int32_t)load32(slot + 8);
    r.bottom = (int32_t)load32(slot + 12);
    if (visit) visit(context, &r);
    ++count;
  }
  store32(ring + 8, read);
  return count;
}

uint32_t quarn_ring_pending(const uint8_t* ring) {
  return quarn_ring_write_sequence(ring) - quarn_ring_read_sequence(ring);
}

void quarn_store_mapping_reply(uint8_t* out, uint32_t user_address, uint32_t kernel_address) {
  store32(out, user_address);
  store32(out + 4, kernel_address);
}

uint32_t quarn_mapping_reply_word(const uint8_t* reply, int index) { return load32(reply + 4 * index); }
