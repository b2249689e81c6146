// The sound's offset from the picture after an hour of simulated recording
// with a device clock running fast or slow: the recorder's placement of the
// sound against the sound's sample count alone (what a recorder that
// trusts the device's clock keeps). 44100 Hz stereo, buffers of one
// encoder block, arrivals late by up to 20 ms.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "recorder/audio/sound_placer.h"

int main(int argc, char** argv) {
  const double hours = argc > 1 ? std::atof(argv[1]) : 1.0;
  kmr::PcmFormat format;  // 44100 Hz, stereo, 16 bits
  const uint32_t block = 1152 * 5 * 4;
  const uint32_t frames = block / 4;
  std::vector<uint8_t> pcm(block, 0);
  for (const double skew : {0.005, -0.005}) {
    kmr::SoundPlacer placer(format, block);
    std::vector<kmr::SoundPlacer::Block> out;
    kmr::RecordingTimeline::View view;
    view.started = true;
    const double buffer_ms = frames * 1000.0 / (44100 * (1 + skew));
    const auto buffers = static_cast<long>(hours * 3600000 / buffer_ms);
    uint32_t seed = 7;
    double first = 0, last = 0, by_count = 0;
    for (long k = 0; k < buffers; ++k) {
      seed = seed * 1103515245u + 12345u;
      const double taken = (k + 1) * buffer_ms;
      placer.Add(pcm.data(), block, static_cast<uint32_t>(std::llround(taken)) + (k == 0 ? 0 : (seed >> 16) % 21),
                 view, &out);
      out.clear();
      last = taken - placer.StreamFrames() * 1000.0 / 44100;
      by_count = taken - (k + 1) * frames * 1000.0 / 44100;
      if (taken < 1000) first = last;
    }
    std::printf("device clock %+.1f %%, %.1f h: sound offset %.1f ms after the first second, %.1f ms at the end "
                "(by the sample count alone: %.0f ms); ratio %.4f\n",
                skew * 100, hours, first, last, by_count, std::fabs(last - first) / std::fabs(by_count));
  }
  return 0;
}
