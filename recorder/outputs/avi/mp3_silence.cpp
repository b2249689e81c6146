#include "recorder/outputs/avi/mp3_silence.h"

#include <cstddef>

namespace kmr {

std::vector<uint8_t> SilentMp3FrameLike(const uint8_t* data, uint32_t size) {
  if (data == nullptr || size < 4 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0 || ((data[1] >> 1) & 3) != 1) {
    return {};
  }
  static constexpr int kRates1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static constexpr int kRates2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static constexpr int kHz[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  const int version = (data[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  const int rate_index = data[2] >> 4;
  const int hz_index = (data[2] >> 2) & 3;
  if (version == 1 || rate_index == 0 || rate_index == 15 || hz_index == 3) return {};
  const bool mpeg1 = version == 3;
  const int kbps = mpeg1 ? kRates1[rate_index] : kRates2[rate_index];
  const int hz = kHz[mpeg1 ? 0 : version == 2 ? 1 : 2][hz_index];
  std::vector<uint8_t> frame(static_cast<size_t>((mpeg1 ? 144 : 72) * kbps * 1000 / hz), 0);
  frame[0] = data[0];
  frame[1] = static_cast<uint8_t>(data[1] | 1);     // no check sum
  frame[2] = static_cast<uint8_t>(data[2] & ~2u);  // no padding
  frame[3] = data[3];
  return frame;
}

}  // namespace kmr
