// Another program's view of an AVI file: reads the video's last frame
// through the system's AVIFile with decompression (the installed codec
// modules), as 32-bit rows top-down, and writes it to a file.
//   avi_last_frame FILE.avi OUT.raw
// Exit code: 0 written, 1 the file or its video cannot be read, 3 no
// installed codec decompresses the video.
#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: avi_last_frame FILE.avi OUT.raw\n");
    return 1;
  }
  AVIFileInit();
  int rc = 1;
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  PGETFRAME frames = nullptr;
  if (AVIFileOpenA(&file, argv[1], OF_READ, nullptr) != 0 ||
      AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) != 0) {
    std::fprintf(stderr, "avi_last_frame: %s has no video to read\n", argv[1]);
  } else {
    BITMAPINFOHEADER format = {};
    LONG size = sizeof(format);
    AVIStreamReadFormat(stream, AVIStreamStart(stream), &format, &size);
    BITMAPINFOHEADER want = {};
    want.biSize = sizeof(want);
    want.biWidth = format.biWidth;
    want.biHeight = format.biHeight < 0 ? -format.biHeight : format.biHeight;
    want.biPlanes = 1;
    want.biBitCount = 32;
    want.biCompression = BI_RGB;
    want.biSizeImage = static_cast<DWORD>(want.biWidth) * static_cast<DWORD>(want.biHeight) * 4;
    frames = AVIStreamGetFrameOpen(stream, &want);
    if (frames == nullptr) {
      std::fprintf(stderr, "avi_last_frame: no installed codec decompresses the video\n");
      rc = 3;
    } else {
      const LONG last = AVIStreamStart(stream) + AVIStreamLength(stream) - 1;
      const auto* dib = static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(frames, last));
      if (dib == nullptr || dib->biBitCount != 32 || dib->biWidth != want.biWidth) {
        std::fprintf(stderr, "avi_last_frame: frame %ld was not decompressed\n", static_cast<long>(last));
      } else {
        const int w = dib->biWidth;
        const int h = dib->biHeight < 0 ? -dib->biHeight : dib->biHeight;
        const auto* bits = reinterpret_cast<const unsigned char*>(dib) + dib->biSize;
        std::vector<unsigned char> rows(static_cast<size_t>(w) * h * 4);
        for (int y = 0; y < h; ++y) {
          const int from = dib->biHeight > 0 ? h - 1 - y : y;  // bottom-up unless negative
          std::copy_n(bits + static_cast<size_t>(from) * w * 4, static_cast<size_t>(w) * 4,
                      rows.begin() + static_cast<ptrdiff_t>(y) * w * 4);
        }
        std::FILE* out = std::fopen(argv[2], "wb");
        if (out != nullptr && std::fwrite(rows.data(), 1, rows.size(), out) == rows.size() && std::fclose(out) == 0) {
          rc = 0;
        } else {
          std::fprintf(stderr, "avi_last_frame: cannot write %s\n", argv[2]);
        }
      }
      AVIStreamGetFrameClose(frames);
    }
  }
  if (stream != nullptr) AVIStreamRelease(stream);
  if (file != nullptr) AVIFileRelease(file);
  AVIFileExit();
  return rc;
}
