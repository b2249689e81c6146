#include "driver/miniport/quarn_miniport.h"

#define IOCTL_MAP 0x230458u
#define IOCTL_UNMAP 0x23045Cu
#define IOCTL_NEXT_SEQUENCE 0x230454u
#define IOCTL_SET_COLOURS 0x23041Cu

static void CopyBytes(void* to, const void* from, unsigned n) {
  unsigned char* d = (unsigned char*)to;
  const unsigned char* s = (const unsigned char*)from;
  for (unsigned i = 0; i < n; ++i) d[i] = s[i];
}

static QuarnWord Word(const unsigned char* p) {
  return (QuarnWord)p[0] | (QuarnWord)p[1] << 8 | (QuarnWord)p[2] << 16 | (QuarnWord)p[3] << 24;
}

static void PutWord(unsigned char* p, QuarnWord v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
  p[2] = (unsigned char)(v >> 16);
  p[3] = (unsigned char)(v >> 24);
}

void QuarnMiniportInit(QuarnMiniport* mp, const QuarnMemoryServices* services) {
  unsigned char* p = (unsigned char*)mp;
  for (unsigned i = 0; i < sizeof(*mp); ++i) p[i] = 0;
  mp->services = *services;
}

static QuarnMiniportBlock* Find(QuarnMiniport* mp, QuarnWord kernel) {
  if (kernel == 0) return 0;
  for (int i = 0; i < QUARN_MINIPORT_BLOCKS; ++i) {
    if (mp->blocks[i].block != 0 && mp->blocks[i].kernel == kernel) return &mp->blocks[i];
  }
  return 0;
}

static void RemoveView(QuarnMiniportBlock* b, int v) {
  for (int i = v; i + 1 < b->views; ++i) b->view[i] = b->view[i + 1];
  --b->views;
}

/* The calling process's view of the block, or -1. */
static int ViewOfCaller(QuarnMiniport* mp, QuarnMiniportBlock* b) {
  void* caller = mp->services.current_process(mp->services.context);
  for (int i = 0; i < b->views; ++i) {
    if (b->view[i].process == caller) return i;
  }
  return -1;
}

/* Views of processes that have ended went with their address spaces. */
static void DropEnded(QuarnMiniport* mp, QuarnMiniportBlock* b) {
  for (int i = 0; i < b->views;) {
    if (mp->services.process_ended(mp->services.context, b->view[i].view)) {
      mp->services.forget_view(mp->services.context, b->view[i].view);
      RemoveView(b, i);
    } else {
      ++i;
    }
  }
}

/* The caller's own view is removed in its context; every other process
 * keeps its view (and with it the memory) until it unmaps or ends. */
static void Release(QuarnMiniport* mp, QuarnMiniportBlock* b) {
  const int own = ViewOfCaller(mp, b);
  for (int i = 0; i < b->views; ++i) {
    if (i == own) {
      mp->services.unmap_from_process(mp->services.context, b->view[i].view);
    } else {
      mp->services.forget_view(mp->services.context, b->view[i].view);
    }
  }
  b->views = 0;
  mp->services.release(mp->services.context, b->block);
  b->block = 0;
  b->kernel = b->size = 0;
}

static unsigned Map(QuarnMiniport* mp, const unsigned char* in, unsigned char* out) {
  unsigned char ex[16];
  CopyBytes(ex, in, 16);
  const QuarnWord kernel = Word(ex + 4), size = Word(ex + 12);
  if (Word(ex) != 0) return QUARN_MP_INVALID_PARAMETER;
  if (kernel == 0) {
    /* The first request: a new block. */
    if (size == 0 || size > QUARN_MINIPORT_MAX_BLOCK) return QUARN_MP_INVALID_PARAMETER;
    for (int i = 0; i < QUARN_MINIPORT_BLOCKS; ++i) {
      QuarnMiniportBlock* b = &mp->blocks[i];
      if (b->block != 0) continue;
      void* block = 0;
      const QuarnWord k = mp->services.allocate(mp->services.context, size, &block);
      if (k == 0 || block == 0) return QUARN_MP_NOT_ENOUGH_MEMORY;
      b->block = block;
      b->kernel = k;
      b->size = size;
      b->views = 0;
      PutWord(ex + 4, k);
      PutWord(ex + 8, 0);
      CopyBytes(out, ex, 16);
      return QUARN_MP_OK;
    }
    return QUARN_MP_NOT_ENOUGH_MEMORY;
  }
  /* A block this miniport handed out, seen by the calling process: its own
   * view when it has one already. */
  QuarnMiniportBlock* b = Find(mp, kernel);
  if (b == 0) return QUARN_MP_INVALID_PARAMETER;
  DropEnded(mp, b);
  QuarnWord user;
  const int own = ViewOfCaller(mp, b);
  if (own >= 0) {
    user = b->view[own].user;
  } else {
    if (b->views >= QUARN_MINIPORT_VIEWS) return QUARN_MP_NOT_ENOUGH_MEMORY;
    void* process = mp->services.current_process(mp->services.context);
    void* view = 0;
    user = mp->services.map_into_process(mp->services.context, b->block, b->size, &view);
    if (user == 0 || view == 0) return QUARN_MP_NOT_ENOUGH_MEMORY;
    b->view[b->views].process = process;
    b->view[b->views].view = view;
    b->view[b->views].user = user;
    ++b->views;
  }
  PutWord(ex + 8, user);
  CopyBytes(out, ex, 16);
  return QUARN_MP_OK;
}

static unsigned Unmap(QuarnMiniport* mp, const unsigned char* in, unsigned char* out, unsigned out_size) {
  unsigned char ex[16];
  CopyBytes(ex, in, 16);
  const QuarnWord how = Word(ex);
  if (how != 0 && how != QUARN_UNMAP_RELEASE) return QUARN_MP_INVALID_PARAMETER;
  QuarnMiniportBlock* b = Find(mp, Word(ex + 4));
  if (b == 0) return QUARN_MP_INVALID_PARAMETER;
  if (how == QUARN_UNMAP_RELEASE) {
    Release(mp, b);
    PutWord(ex + 4, 0);
  } else {
    /* The caller's own view, if it has one; never another process's. */
    DropEnded(mp, b);
    const int own = ViewOfCaller(mp, b);
    if (own >= 0) {
      mp->services.unmap_from_process(mp->services.context, b->view[own].view);
      RemoveView(b, own);
    }
  }
  PutWord(ex + 8, 0);
  if (out != 0 && out_size >= 16) CopyBytes(out, ex, 16);
  return QUARN_MP_OK;
}

static unsigned NextSequence(QuarnMiniport* mp, const unsigned char* in, unsigned char* out) {
  const QuarnWord address = Word(in);
  for (int i = 0; i < QUARN_MINIPORT_BLOCKS; ++i) {
    QuarnMiniportBlock* b = &mp->blocks[i];
    if (b->block == 0 || address < b->kernel) continue;
    const QuarnWord offset = address - b->kernel;
    if (offset >= b->size) continue;
    /* A whole, aligned word inside the block. */
    if ((offset & 3u) != 0 || b->size - offset < 4) return QUARN_MP_INVALID_PARAMETER;
    volatile QuarnWord* word = (volatile QuarnWord*)((unsigned char*)b->block + offset);
    PutWord(out, mp->services.increment(mp->services.context, word));
    return QUARN_MP_OK;
  }
  return QUARN_MP_INVALID_PARAMETER;
}

unsigned QuarnMiniportRequest(QuarnMiniport* mp, unsigned code, const void* in, unsigned in_size, void* out,
                              unsigned out_size, unsigned* returned) {
  unsigned result = QUARN_MP_INVALID_FUNCTION;
  if (returned != 0) *returned = 0;
  switch (code) {
    case IOCTL_MAP:
      if (in == 0 || out == 0 || in_size < 16 || out_size < 16) return QUARN_MP_INSUFFICIENT_BUFFER;
      result = Map(mp, (const unsigned char*)in, (unsigned char*)out);
      if (result == QUARN_MP_OK && returned != 0) *returned = 16;
      return result;
    case IOCTL_UNMAP:
      if (in == 0 || in_size < 16) return QUARN_MP_INSUFFICIENT_BUFFER;
      result = Unmap(mp, (const unsigned char*)in, (unsigned char*)out, out_size);
      if (result == QUARN_MP_OK && returned != 0 && out != 0 && out_size >= 16) *returned = 16;
      return result;
    case IOCTL_NEXT_SEQUENCE:
      if (in == 0 || out == 0 || in_size != 4 || out_size < 4) return QUARN_MP_INSUFFICIENT_BUFFER;
      result = NextSequence(mp, (const unsigned char*)in, (unsigned char*)out);
      if (result == QUARN_MP_OK && returned != 0) *returned = 4;
      return result;
    case IOCTL_SET_COLOURS: {
      if (in == 0 || in_size != 1032) return QUARN_MP_INSUFFICIENT_BUFFER;
      const unsigned char* p = (const unsigned char*)in;
      const unsigned count = (unsigned)p[0] | (unsigned)p[1] << 8, first = (unsigned)p[2] | (unsigned)p[3] << 8;
      if (count > 256 || first > 256 - count) return QUARN_MP_INVALID_PARAMETER;
      CopyBytes(mp->colours, in, 1032);
      return QUARN_MP_OK;
    }
    default:
      return QUARN_MP_INVALID_FUNCTION;
  }
}

void QuarnMiniportReset(QuarnMiniport* mp) {
  for (int i = 0; i < QUARN_MINIPORT_BLOCKS; ++i) {
    if (mp->blocks[i].block != 0) Release(mp, &mp->blocks[i]);
  }
}
