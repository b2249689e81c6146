#include "recorder/outputs/avi/avi_check.h"

#include <cstdint>
#include <fstream>

namespace kmr {

namespace {

class Reader {
 public:
  explicit Reader(const std::string& path) : f_(path, std::ios::binary) {
    if (!f_) return;
    f_.seekg(0, std::ios::end);
    const std::streamoff end = f_.tellg();
    size_ = end > 0 ? static_cast<uint64_t>(end) : 0;
  }
  bool Open() const { return static_cast<bool>(f_); }
  uint64_t Size() const { return size_; }
  bool Read(uint64_t at, uint8_t* out, size_t n) {
    if (at > size_ || n > size_ - at) return false;
    f_.clear();
    f_.seekg(static_cast<std::streamoff>(at));
    f_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
    return static_cast<size_t>(f_.gcount()) == n;
  }
  bool U32(uint64_t at, uint32_t* v) {
    uint8_t b[4];
    if (!Read(at, b, 4)) return false;
    *v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
         static_cast<uint32_t>(b[3]) << 24;
    return true;
  }

 private:
  std::ifstream f_;
  uint64_t size_ = 0;
};

constexpr uint32_t Code(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// A chunk inside [from, end): its code, where its data starts and its size.
struct Chunk {
  uint32_t code = 0, size = 0;
  uint64_t data = 0;
};

bool ChunkAt(Reader& r, uint64_t at, uint64_t end, Chunk* c) {
  if (at + 8 > end) return false;
  if (!r.U32(at, &c->code) || !r.U32(at + 4, &c->size)) return false;
  c->data = at + 8;
  return c->data + c->size <= end;
}

uint64_t Next(const Chunk& c) { return c.data + c.size + (c.size & 1); }

}  // namespace

bool AviFileFinished(const std::string& path, std::string* why) {
  Reader r(path);
  if (!r.Open()) return *why = "the file cannot be read back", false;
  uint32_t riff = 0, riff_size = 0, form = 0;
  if (!r.U32(0, &riff) || !r.U32(4, &riff_size) || !r.U32(8, &form) || riff != Code('R', 'I', 'F', 'F') ||
      form != Code('A', 'V', 'I', ' ')) {
    return *why = "it does not start as an AVI file", false;
  }
  const uint64_t end = 8 + static_cast<uint64_t>(riff_size);
  if (end > r.Size()) return *why = "the file ends before its RIFF chunk does", false;
  bool header = false, movie = false, index = false;
  uint32_t total_frames = 0, stream_length_sum = 0, index_entries = 0, movie_chunks = 0;
  for (uint64_t at = 12; at + 8 <= end;) {
    Chunk c;
    if (!ChunkAt(r, at, end, &c)) return *why = "a chunk runs past the end of the RIFF chunk", false;
    uint32_t list = 0;
    if (c.code == Code('L', 'I', 'S', 'T') && c.size >= 4 && r.U32(c.data, &list)) {
      if (list == Code('h', 'd', 'r', 'l')) {
        for (uint64_t in = c.data + 4; in + 8 <= c.data + c.size;) {
          Chunk h;
          if (!ChunkAt(r, in, c.data + c.size, &h)) break;
          uint32_t sub = 0;
          if (h.code == Code('a', 'v', 'i', 'h') && h.size >= 20 && r.U32(h.data + 16, &total_frames)) header = true;
          if (h.code == Code('L', 'I', 'S', 'T') && h.size >= 4 && r.U32(h.data, &sub) &&
              sub == Code('s', 't', 'r', 'l')) {
            Chunk strh;
            uint32_t length = 0;
            if (ChunkAt(r, h.data + 4, h.data + h.size, &strh) && strh.code == Code('s', 't', 'r', 'h') &&
                strh.size >= 36 && r.U32(strh.data + 32, &length)) {
              stream_length_sum += length;
            }
          }
          in = Next(h);
        }
      } else if (list == Code('m', 'o', 'v', 'i')) {
        movie = true;
        for (uint64_t in = c.data + 4; in + 8 <= c.data + c.size && movie_chunks == 0;) {
          Chunk m;
          if (!ChunkAt(r, in, c.data + c.size, &m)) break;
          ++movie_chunks;  // one is enough to know the movie is not empty
          in = Next(m);
        }
      }
    } else if (c.code == Code('i', 'd', 'x', '1')) {
      index = true;
      index_entries = c.size / 16;
    }
    at = Next(c);
  }
  if (!header) return *why = "it has no main header", false;
  if (!movie) return *why = "it has no movie list", false;
  if (movie_chunks != 0 && !index) return *why = "its index was never written", false;
  if (index_entries != 0 && (total_frames == 0 || stream_length_sum == 0)) {
    return *why = "its headers do not count the samples of its index", false;
  }
  return true;
}

}  // namespace kmr
