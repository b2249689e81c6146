// A stand-in for the MP3 encoder library that codes nothing: it keeps the
// configuration record it was given and a line per call, which tests read
// through kmrTestRecord and kmrTestCalls. Each chunk's output is four bytes:
// 'C', the chunk's number in the stream, and the chunk's first sample.
#include <cstdint>
#include <cstring>
#include <string>

#include "recorder/audio/blade_interface.h"

#include "shared/testing/export.h"


namespace {
unsigned char g_record[331];
std::string g_calls;
uint32_t g_chunks = 0;

uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
}  // namespace

KMR_EXPORT const unsigned char* kmrTestRecord() { return g_record; }
KMR_EXPORT const char* kmrTestCalls() { return g_calls.c_str(); }

KMR_EXPORT KmrBeErr beInitStream(void* config, uint32_t* samples, uint32_t* buffer_bytes, KmrBeStream* stream) {
  std::memcpy(g_record, config, sizeof(g_record));
  // MPEG-1 frames hold 1152 samples per channel, MPEG-2 frames 576.
  const uint32_t per_channel = Get32(g_record + 36) == 1 ? 1152 : 576;
  const uint32_t channels = Get32(g_record + 20) == 3 ? 1 : 2;
  *samples = per_channel * channels;
  *buffer_bytes = 4;
  *stream = 7;
  g_chunks = 0;
  g_calls += "init;";
  return 0;
}

KMR_EXPORT KmrBeErr beEncodeChunk(KmrBeStream stream, uint32_t samples, const int16_t* pcm, uint8_t* out,
                                  uint32_t* out_bytes) {
  g_calls += "chunk " + std::to_string(stream) + " " + std::to_string(samples) + ";";
  out[0] = 'C';
  out[1] = static_cast<uint8_t>(g_chunks++);
  out[2] = static_cast<uint8_t>(pcm[0]);
  out[3] = static_cast<uint8_t>(pcm[0] >> 8);
  *out_bytes = 4;
  return 0;
}

KMR_EXPORT KmrBeErr beDeinitStream(KmrBeStream stream, uint8_t* out, uint32_t* out_bytes) {
  g_calls += "deinit " + std::to_string(stream) + ";";
  std::memcpy(out, "END", 3);
  *out_bytes = 3;
  return 0;
}

KMR_EXPORT KmrBeErr beCloseStream(KmrBeStream stream) {
  g_calls += "close " + std::to_string(stream) + ";";
  return 0;
}

KMR_EXPORT void beVersion(void*) { g_calls += "version;"; }
KMR_EXPORT KmrBeErr beWriteInfoTag(KmrBeStream, const char*) { return 0; }
#ifndef KMR_TEST_INCOMPLETE
KMR_EXPORT KmrBeErr beWriteVBRHeader(const char*) { return 0; }
#endif
