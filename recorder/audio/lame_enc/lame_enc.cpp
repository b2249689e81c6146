// The MP3 encoder library on Linux: the seven entry points the recorder
// loads by name ("lame_enc.so" beside kelvo), over libmp3lame. Each stream
// is one LAME encoder set up from the 331-byte configuration record.
#include <lame/lame.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "recorder/audio/blade_interface.h"
#include "recorder/audio/lame_config.h"

namespace {

constexpr KmrBeErr kOk = 0;
constexpr KmrBeErr kBadFormat = 1;     // a record the library cannot use
constexpr KmrBeErr kBadParameters = 2;  // LAME refused the settings
constexpr KmrBeErr kNoMemory = 3;
constexpr KmrBeErr kBadHandle = 4;
constexpr KmrBeErr kNotSupported = 5;
constexpr KmrBeErr kFileError = 6;

struct Stream {
  lame_global_flags* lame = nullptr;
  int channels = 2;
  uint32_t buffer_bytes = 0;
};

Stream* FromHandle(KmrBeStream h) { return reinterpret_cast<Stream*>(h); }

}  // namespace

extern "C" {

__attribute__((visibility("default"))) KmrBeErr beInitStream(void* config, uint32_t* samples,
                                                              uint32_t* buffer_bytes, KmrBeStream* stream) {
  if (config == nullptr || samples == nullptr || buffer_bytes == nullptr || stream == nullptr) return kBadFormat;
  kmr::LameConfig c;
  if (!kmr::ReadLameConfig(static_cast<const uint8_t*>(config), &c)) return kBadFormat;
  if (c.mode != 0 && c.mode != 3) return kBadFormat;
  auto* s = new (std::nothrow) Stream;
  if (s == nullptr) return kNoMemory;
  s->lame = lame_init();
  if (s->lame == nullptr) {
    delete s;
    return kNoMemory;
  }
  lame_global_flags* gf = s->lame;
  s->channels = c.mode == 3 ? 1 : 2;
  lame_set_in_samplerate(gf, static_cast<int>(c.sample_rate));
  if (c.resample_rate != 0) lame_set_out_samplerate(gf, static_cast<int>(c.resample_rate));
  lame_set_num_channels(gf, s->channels);
  lame_set_mode(gf, s->channels == 1 ? MONO : STEREO);
  lame_set_emphasis(gf, static_cast<int>(c.emphasis));
  lame_set_copyright(gf, c.header_flags[2] != 0);
  lame_set_original(gf, c.header_flags[3] != 0);
  lame_set_error_protection(gf, c.header_flags[1] != 0);
  lame_set_extension(gf, c.header_flags[0] != 0);
  lame_set_strict_ISO(gf, c.strict_iso != 0);
  lame_set_disable_reservoir(gf, c.no_bit_reservoir != 0);
  lame_set_bWriteVbrTag(gf, c.write_vbr_header != 0);
  // The quality byte counts only when its complement stands beside it.
  const int quality = c.quality_word & 0xFF;
  if (((c.quality_word >> 8) & 0xFF) == (~quality & 0xFF)) lame_set_quality(gf, quality);
  if (c.enable_vbr != 0) {
    lame_set_VBR(gf, vbr_default);
    lame_set_VBR_q(gf, c.vbr_quality);
    lame_set_VBR_min_bitrate_kbps(gf, static_cast<int>(c.bit_rate));
    lame_set_VBR_max_bitrate_kbps(gf, static_cast<int>(c.max_bit_rate));
  } else if (c.abr_bit_rate != 0) {
    lame_set_VBR(gf, vbr_abr);
    lame_set_VBR_mean_bitrate_kbps(gf, static_cast<int>(c.abr_bit_rate));
  } else {
    lame_set_VBR(gf, vbr_off);
    lame_set_brate(gf, static_cast<int>(c.bit_rate));
  }
  if (lame_init_params(gf) < 0) {
    lame_close(gf);
    delete s;
    return kBadParameters;
  }
  *samples = static_cast<uint32_t>(lame_get_framesize(gf) * s->channels);
  // LAME's own bound for the output of n samples per channel.
  s->buffer_bytes = static_cast<uint32_t>(5 * lame_get_framesize(gf) / 4 + 7200);
  *buffer_bytes = s->buffer_bytes;
  *stream = reinterpret_cast<KmrBeStream>(s);
  return kOk;
}

__attribute__((visibility("default"))) KmrBeErr beEncodeChunk(KmrBeStream stream, uint32_t samples,
                                                               const int16_t* pcm, uint8_t* out, uint32_t* out_bytes) {
  Stream* s = FromHandle(stream);
  if (s == nullptr || pcm == nullptr || out == nullptr || out_bytes == nullptr) return kBadHandle;
  *out_bytes = 0;
  int n = 0;
  if (s->channels == 2) {
    n = lame_encode_buffer_interleaved(s->lame, const_cast<short*>(pcm), static_cast<int>(samples / 2), out,
                                       static_cast<int>(s->buffer_bytes));
  } else {
    n = lame_encode_buffer(s->lame, pcm, pcm, static_cast<int>(samples), out, static_cast<int>(s->buffer_bytes));
  }
  if (n < 0) return kBadParameters;
  *out_bytes = static_cast<uint32_t>(n);
  return kOk;
}

__attribute__((visibility("default"))) KmrBeErr beDeinitStream(KmrBeStream stream, uint8_t* out,
                                                                uint32_t* out_bytes) {
  Stream* s = FromHandle(stream);
  if (s == nullptr || out == nullptr || out_bytes == nullptr) return kBadHandle;
  const int n = lame_encode_flush(s->lame, out, static_cast<int>(s->buffer_bytes));
  *out_bytes = n > 0 ? static_cast<uint32_t>(n) : 0;
  return n < 0 ? kBadParameters : kOk;
}

__attribute__((visibility("default"))) KmrBeErr beCloseStream(KmrBeStream stream) {
  Stream* s = FromHandle(stream);
  if (s == nullptr) return kBadHandle;
  lame_close(s->lame);
  delete s;
  return kOk;
}

// Four bytes: this library's version 1.0, then LAME's major and minor.
__attribute__((visibility("default"))) void beVersion(void* version) {
  if (version == nullptr) return;
  const unsigned char v[4] = {1, 0, static_cast<unsigned char>(get_lame_version()[0] - '0'),
                              static_cast<unsigned char>(get_lame_version()[2] - '0')};
  std::memcpy(version, v, sizeof(v));
}

// Writes the information (Xing/LAME) frame into the file the stream's MP3
// data went to.
__attribute__((visibility("default"))) KmrBeErr beWriteInfoTag(KmrBeStream stream, const char* file) {
  Stream* s = FromHandle(stream);
  if (s == nullptr) return kBadHandle;
  if (file == nullptr) return kFileError;
  std::FILE* f = std::fopen(file, "rb+");
  if (f == nullptr) return kFileError;
  lame_mp3_tags_fid(s->lame, f);
  const bool ok = std::fclose(f) == 0;
  return ok ? kOk : kFileError;
}

// The header of a variable-rate file needs the stream that wrote it: this
// library writes it through beWriteInfoTag only.
__attribute__((visibility("default"))) KmrBeErr beWriteVBRHeader(const char*) { return kNotSupported; }

}  // extern "C"
