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

static void Release(QuarnMiniport* mp, QuarnMiniportBlock* b) {
  while (b->views > 0) {
    --b->views;
    mp->services.unmap_from_process(mp->services.context, b->view[b->views]);
  }
  mp->services.release(mp->services.context, b->block);
  b->block = 0;
  b->kernel = b->size = 0;
}

static unsigned Map(QuarnMiniport* mp, const unsigned char* in, unsigned char* out) {
  unsigned char ex[16];
  CopyBytes(ex, in, 16);
  const QuarnWord kernel = Word(ex + 4), size = Word(ex + 12);
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
      CopyBytes(out, ex, 16);
      return QUARN_MP_OK;
    }
    return QUARN_MP_NOT_ENOUGH_MEMORY;
  }
  /* A block this miniport handed out, seen by the calling process. */
  QuarnMiniportBlock* b = Find(mp, kernel);
  if (b == 0) return QUARN_MP_INVALID_PARAMETER;
  if (b->views >= QUARN_MINIPORT_VIEWS) return QUARN_MP_NOT_ENOUGH_MEMORY;
  void* view = 0;
  const QuarnWord user = mp->services.map_into_process(mp->services.context, b->block, b->size, &view);
  if (user == 0) return QUARN_MP_NOT_ENOUGH_MEMORY;
  b->user[b->views] = user;
  b->view[b->views] = view;
  ++b->views;
  PutWord(ex + 8, user);
  CopyBytes(out, ex, 16);
  return QUARN_MP_OK;
}

static unsigned Unmap(QuarnMiniport* mp, const unsigned char* in, unsigned char* out, unsigned out_size) {
  unsigned char ex[16];
  CopyBytes(ex, in, 16);
  QuarnMiniportBlock* b = Find(mp, Word(ex + 4));
  if (b == 0) return QUARN_MP_INVALID_PARAMETER;
  if (b->views > 0) {
    /* The view the exchange names, else the newest. */
    int v = b->views - 1;
    for (int i = 0; i < b->views; ++i) {
      if (b->user[i] == Word(ex + 8)) v = i;
    }
    mp->services.unmap_from_process(mp->services.context, b->view[v]);
    for (int i = v; i + 1 < b->views; ++i) {
      b->user[i] = b->user[i + 1];
      b->view[i] = b->view[i + 1];
    }
    --b->views;
    PutWord(ex + 8, 0);
  } else {
    Release(mp, b);
    PutWord(ex + 4, 0);
    PutWord(ex + 8, 0);
  }
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
