// The entry points of the MP3 encoder library ("lame_enc"), looked up by
// name at run time. Results are 0 for success. The stream handle and the
// results are the platform's unsigned long; counts are 32-bit.
#pragma once

#include <cstdint>

extern "C" {
typedef unsigned long KmrBeErr;
typedef unsigned long KmrBeStream;

// config: the 331-byte record; samples: 16-bit samples (all channels) one
// chunk takes; buffer_bytes: the most bytes one chunk can give.
typedef KmrBeErr (*KmrBeInitStream)(void* config, uint32_t* samples, uint32_t* buffer_bytes, KmrBeStream* stream);
typedef KmrBeErr (*KmrBeEncodeChunk)(KmrBeStream stream, uint32_t samples, const int16_t* pcm, uint8_t* out,
                                     uint32_t* out_bytes);
typedef KmrBeErr (*KmrBeDeinitStream)(KmrBeStream stream, uint8_t* out, uint32_t* out_bytes);
typedef KmrBeErr (*KmrBeCloseStream)(KmrBeStream stream);
typedef void (*KmrBeVersion)(void* version);
typedef KmrBeErr (*KmrBeWriteInfoTag)(KmrBeStream stream, const char* file);
typedef KmrBeErr (*KmrBeWriteVbrHeader)(const char* file);
}
