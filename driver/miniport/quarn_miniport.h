/* The requests of quarn's video miniport, written once: the kernel-mode
 * miniport (over the video port driver) and the host tests run this code
 * over their own memory services. Every buffer length, block address and
 * word address a request carries is checked against the blocks this
 * miniport handed out before anything is touched. */
#ifndef QUARN_MINIPORT_H
#define QUARN_MINIPORT_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned int QuarnWord; /* the exchange's 32-bit words */

#define QUARN_MINIPORT_BLOCKS 8
#define QUARN_MINIPORT_VIEWS 4
/* The largest block: a 16384 x 2048 32-bit surface (2^25 pixels). */
#define QUARN_MINIPORT_MAX_BLOCK (128u * 1024u * 1024u)

/* Request results. */
#define QUARN_MP_OK 0
#define QUARN_MP_INVALID_PARAMETER 87 /* ERROR_INVALID_PARAMETER */
#define QUARN_MP_INSUFFICIENT_BUFFER 122 /* ERROR_INSUFFICIENT_BUFFER */
#define QUARN_MP_NOT_ENOUGH_MEMORY 8 /* ERROR_NOT_ENOUGH_MEMORY */
#define QUARN_MP_INVALID_FUNCTION 1 /* ERROR_INVALID_FUNCTION */

typedef struct QuarnMemoryServices {
  void* context;
  /* A zeroed, non-paged block; its kernel address (as a word) or 0. */
  QuarnWord (*allocate)(void* context, QuarnWord size, void** block);
  void (*release)(void* context, void* block);
  /* The block seen by the process making the current request: its address
   * there (as a word) or 0; *view is what unmapping needs. */
  QuarnWord (*map_into_process)(void* context, void* block, QuarnWord size, void** view);
  void (*unmap_from_process)(void* context, void* view);
  /* Adds 1 to the word atomically and returns the new value. */
  QuarnWord (*increment)(void* context, volatile QuarnWord* word);
} QuarnMemoryServices;

typedef struct QuarnMiniportBlock {
  void* block; /* NULL: free entry */
  QuarnWord kernel;
  QuarnWord size;
  int views;
  QuarnWord user[QUARN_MINIPORT_VIEWS];
  void* view[QUARN_MINIPORT_VIEWS];
} QuarnMiniportBlock;

typedef struct QuarnMiniport {
  QuarnMemoryServices services;
  QuarnMiniportBlock blocks[QUARN_MINIPORT_BLOCKS];
  unsigned char colours[1032]; /* the last colour registers set */
} QuarnMiniport;

void QuarnMiniportInit(QuarnMiniport* mp, const QuarnMemoryServices* services);
/* One request: the map and unmap requests take a 16-byte memory exchange
 * in and out, next-sequence 4 bytes in and out, set-colour-registers 1032
 * bytes in. *returned is the output length written. */
unsigned QuarnMiniportRequest(QuarnMiniport* mp, unsigned code, const void* in, unsigned in_size, void* out,
                              unsigned out_size, unsigned* returned);
/* Releases every block (the adapter goes away). */
void QuarnMiniportReset(QuarnMiniport* mp);

#ifdef __cplusplus
}
#endif

#endif
