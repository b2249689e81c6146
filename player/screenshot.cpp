#include "player/screenshot.h"

#include <cstdio>
#include <vector>

#include "player/container_reader.h"
#include "player/video_renderer.h"
#include "shared/byte_io.h"

namespace kmr {

namespace {

// Writes every byte or says it could not; the file is removed on failure.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot create " + path;
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    std::remove(path.c_str());
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

bool WriteScreenshot(const std::string& recording, uint32_t ms, const std::string& out, std::string* error) {
  VideoRenderer video;
  ContainerReader reader;
  reader.AddDecoder(&video);
  reader.SetSource(recording);
  if (!reader.Start()) {
    *error = reader.Error();
    return false;
  }
  if (video.FrameWidth() == 0) {
    reader.Stop();
    *error = "the recording has no picture";
    return false;
  }
  reader.Pause();
  if (!reader.Seek(ms)) {
    *error = reader.Error().empty() ? "the seek failed" : reader.Error();
    reader.Stop();
    return false;
  }
  reader.Stop();  // the picture stays with the decoder

  ScreenVideoDecoder& d = video.Decoder();
  d.LockDecoder();
  const std::vector<uint8_t> dib = d.DibHeader();
  const PlaneView* p = d.Picture();
  std::vector<uint8_t> file;
  if (p != nullptr && !dib.empty()) {
    const size_t pixels = static_cast<size_t>(p->stride) * static_cast<size_t>(p->height);
    ByteWriter w(&file);
    w.U8('B');
    w.U8('M');
    w.U32(static_cast<uint32_t>(14 + dib.size() + pixels));
    w.U32(0);
    w.U32(static_cast<uint32_t>(14 + dib.size()));
    w.Bytes(dib.data(), dib.size());
    w.Bytes(p->data, pixels);
  }
  d.UnlockDecoder();
  if (file.empty()) {
    *error = "no picture was decoded";
    return false;
  }
  return WriteFile(out, file, error);
}

int ScreenshotCommand(const std::string& recording, uint32_t ms, const std::string& out) {
  std::string error;
  if (WriteScreenshot(recording, ms, out, &error)) return 0;
  std::fprintf(stderr, "morvin: %s\n", error.c_str());
  return 1;
}

}  // namespace kmr
