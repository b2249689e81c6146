/* The requests of quarn's video miniport, written once: the kernel-mode
 * miniport (over the video port driver) and the host tests run this code
 * over their own memory services. Every buffer length, block address and
 * word address a request carries is checked against the blocks this
 * miniport handed out before anything is touched.
 *
 * Views belong to the process that mapped them. A process has at most one
 * view of a block; an unmap removes the calling process's own view and
 * nothing else, always in that process's own context. Only the display
 * driver's own teardown releases a block (word 0 of the exchange set to
 * QUARN_UNMAP_RELEASE): the views of other processes are then left to them,
 * the memory living on until the last of them is gone, and the views of
 * processes that have ended are dropped without being touched. */
#ifndef QUARN_MINIPORT_H
#define QUARN_MINIPORT_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned int QuarnWord; /* the exchange's 32-bit words */

#define QUARN_MINIPORT_BLOCKS 8
#define QUARN_MINIPORT_VIEWS 8 /* processes that map one block at once */
/* The largest block: a 16384 x 2048 32-bit surface (2^25 pixels). */
#define QUARN_MINIPORT_MAX_BLOCK (128u * 1024u * 1024u)

/* Word 0 of an unmap request's exchange: 0 removes the calling process's
 * view; this releases the block. */
#define QUARN_UNMAP_RELEASE 1u

/* Request results. */
#define QUARN_MP_OK 0
#define QUARN_MP_INVALID_PARAMETER 87 /* ERROR_INVALID_PARAMETER */
#define QUARN_MP_INSUFFICIENT_BUFFER 122 /* ERROR_INSUFFICIENT_BUFFER */
#define QUARN_MP_NOT_ENOUGH_MEMORY 8 /* ERROR_NOT_ENOUGH_MEMORY */
#define QUARN_MP_INVALID_FUNCTION 1 /* ERROR_INVALID_FUNCTION */

typedef struct QuarnMemoryServices {
  void* context;
  /* A zeroed block in kernel memory; its kernel address (as a word) or 0.
   * After release the memory stays valid for as long as any process still
   * has a view of it, and is freed with the last one. */
  QuarnWord (*allocate)(void* context, QuarnWord size, void** block);
  void (*release)(void* context, void* block);
  /* The process making the current request. Views hold on to their
   * process, so the identity of a process with a view is never reused. */
  void* (*current_process)(void* context);
  /* Maps the block into the calling process: its address there (as a word)
   * or 0 when the system refuses; *view is what the other calls take. */
  QuarnWord (*map_into_process)(void* context, void* block, QuarnWord size, void** view);
  /* Removes a view; called only in the context of the view's own process. */
  void (*unmap_from_process)(void* context, void* view);
  /* Whether the view's process has ended (its address space, and the view
   * with it, gone). */
  int (*process_ended)(void* context, void* view);
  /* Lets go of a view without touching its process's address space: the
   * process's end removes it. */
  void (*forget_view)(void* context, void* view);
  /* Adds 1 to the word atomically and returns the new value. */
  QuarnWord (*increment)(void* context, volatile QuarnWord* word);
} QuarnMemoryServices;

typedef struct QuarnMiniportView {
  void* process;
  void* view;
  QuarnWord user;
} QuarnMiniportView;

typedef struct QuarnMiniportBlock {
  void* block; /* NULL: free entry */
  QuarnWord kernel;
  QuarnWord size;
  int views;
  QuarnMiniportView view[QUARN_MINIPORT_VIEWS];
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
