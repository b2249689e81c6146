// A clip written through the AVI file library (AVIFile on Windows,
// libavformat by extension on Linux): one video stream of the lossless
// codec's code at 10 frames a second, each frame a key frame of its own
// bytes; and the file as it was on disk before the writer finished it, as
// a recorder killed at that moment would have left it.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "recorder/outputs/avi/avi_file.h"

namespace kmr::testing {

// frames frames, then still_frames empty samples (nothing new: they
// lengthen the last picture); *killed (when not empty) gets the file as it
// was after the frames, before the release.
inline void WriteOwnCodecClip(const std::string& path, int frames, int still_frames, const std::string& killed) {
  std::vector<uint8_t> format(40, 0);
  const auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) format[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, 40), put(4, 64), put(8, 48), put(16, 0x56524D4B), put(20, 64 * 48 * 4);  // "KMRV"
  format[12] = 1, format[14] = 32;
  std::unique_ptr<AviLibrary> library = MakeSystemAviLibrary();
  std::string error;
  std::unique_ptr<AviFile> file = library->Open(path, kAviOpenCreateWrite, &error);
  ASSERT_NE(file, nullptr) << error;
  AviStreamInfo info;
  info.type = kAviStreamVideo;
  info.handler = 0x56524D4B;
  info.rate = 10;
  info.frame = Rect{0, 0, 64, 48};
  std::unique_ptr<AviFileStream> video = file->CreateStream(info);
  ASSERT_NE(video, nullptr);
  ASSERT_TRUE(video->SetFormat(format));
  std::vector<uint8_t> sample(2000);
  for (int i = 0; i < frames; ++i) {
    for (size_t k = 0; k < sample.size(); ++k) sample[k] = static_cast<uint8_t>(i * 7 + k);
    ASSERT_TRUE(video->Write(i, 1, sample.data(), static_cast<uint32_t>(sample.size()), kAviKeyFrame));
  }
  if (!killed.empty()) {
    std::ifstream in(path, std::ios::binary);
    std::ofstream out(killed, std::ios::binary);
    out << in.rdbuf();
  }
  for (int i = frames; i < frames + still_frames; ++i) ASSERT_TRUE(video->Write(i, 1, nullptr, 0, 0));
  video.reset();
  ASSERT_TRUE(file->Release(&error)) << error;
}

}  // namespace kmr::testing
