/* The private interface between the recorder and the mirror display driver:
 * escape codes, the mode word, the 8-byte mapping reply and the change ring
 * with its writer and reader disciplines. C, so that the kernel-mode driver
 * and the recorder share one definition. Every multi-byte value in the
 * shared blocks is little-endian (all our targets are). */
#ifndef QUARN_PROTOCOL_H
#define QUARN_PROTOCOL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QUARN_ESC_QUERY_MODE 0x11110u
#define QUARN_ESC_MAP_SURFACE 0x11111u
#define QUARN_ESC_UNMAP_SURFACE 0x11112u
#define QUARN_ESC_MAP_CHANGE_RING 0x11113u
#define QUARN_ESC_UNMAP_CHANGE_RING 0x11114u
#define QUARN_ESC_ENABLE_TRACKING 0x11115u
#define QUARN_ESC_DISABLE_TRACKING 0x11116u

/* The capacity the recorder asks for. */
#define QUARN_RING_CAPACITY 8192u
#define QUARN_RING_HEADER_BYTES 12u
#define QUARN_RING_SLOT_BYTES 16u
#define QUARN_MAPPING_REPLY_BYTES 8u

typedef struct QuarnRect {
  int32_t left, top, right, bottom;
} QuarnRect;

/* Bits 0-11 width, 12-23 height, 24-31 bits per pixel. */
static inline uint32_t quarn_mode_word(uint32_t width, uint32_t height, uint32_t bits_per_pixel) {
  return (width & 0xFFFu) | ((height & 0xFFFu) << 12) | ((bits_per_pixel & 0xFFu) << 24);
}

/* Bytes of a ring of that capacity: capacity × 16 + 12. 0 for a capacity
 * whose ring cannot be addressed. */
size_t quarn_ring_bytes(uint32_t capacity);

/* Zeroes the block and stores the capacity. */
void quarn_ring_init(uint8_t* ring, uint32_t capacity);

uint32_t quarn_ring_capacity(const uint8_t* ring);
uint32_t quarn_ring_write_sequence(const uint8_t* ring);
uint32_t quarn_ring_read_sequence(const uint8_t* ring);

/* Address of the write-sequence word (what the miniport's next-sequence
 * request advances). */
uint32_t* quarn_ring_write_word(uint8_t* ring);

/* Writer, step 1 where there is no miniport to ask: atomically adds 1 to the
 * write sequence and returns the new value. */
uint32_t quarn_ring_next_sequence(uint8_t* ring);

/* Writer, step 2: stores the rectangle in slot (sequence mod capacity) of a
 * ring of that many slots. The capacity is the writer's own record of the
 * ring it made, never the ring's first word: whoever maps the ring can
 * rewrite that word (and the sequence), and a slot found from it could lie
 * anywhere. Does nothing for a capacity of 0. */
void quarn_ring_store(uint8_t* ring, uint32_t capacity, uint32_t sequence, const QuarnRect* rect);

/* Writer, both steps, for a ring in the writer's own memory (the capacity
 * read from the ring). */
void quarn_ring_add(uint8_t* ring, const QuarnRect* rect);

/* Reader: delivers every rectangle written since the last drain, oldest
 * first, then stores the read sequence back. Returns how many it delivered.
 * When the writer ran more than capacity ahead, the reader still delivers
 * write - read rectangles, taking whatever the slots hold. */
typedef void (*quarn_rect_visitor)(void* context, const QuarnRect* rect);
uint32_t quarn_ring_drain(uint8_t* ring, quarn_rect_visitor visit, void* context);

/* Rectangles written and not yet read (write - read, 32-bit wrapping). More
 * than the capacity means the writer overwrote slots the reader had not read. */
uint32_t quarn_ring_pending(const uint8_t* ring);

/* The 8-byte mapping reply: user address, kernel address. */
void quarn_store_mapping_reply(uint8_t* out, uint32_t user_address, uint32_t kernel_address);
uint32_t quarn_mapping_reply_word(const uint8_t* reply, int index);

#ifdef __cplusplus
}
#endif

#endif
