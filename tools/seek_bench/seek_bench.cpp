// The player's seek, timed: opens a recording with the player's reader and
// video decoder (no window), pauses, and moves to random times. Each time is
// from the seek call until the picture of the target is decoded and its
// repaint asked for. Prints one line per seek: "target_ms elapsed_ms".
//   seek_bench FILE [SEEKS] [SEED]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "player/container_reader.h"
#include "player/video_renderer.h"

namespace {

class NoView : public kmr::VideoView {
 public:
  bool Repaint(uint32_t) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: seek_bench FILE [SEEKS] [SEED]\n");
    return 2;
  }
  const int seeks = argc > 2 ? std::atoi(argv[2]) : 50;
  std::mt19937 rng(argc > 3 ? static_cast<uint32_t>(std::atoi(argv[3])) : 1);
  kmr::VideoRenderer video;
  NoView view;
  video.SetView(&view);
  kmr::ContainerReader reader;
  reader.AddDecoder(&video);
  reader.SetSource(argv[1]);
  const auto open0 = std::chrono::steady_clock::now();
  if (!reader.Start()) {
    std::fprintf(stderr, "seek_bench: %s\n", reader.Error().c_str());
    return 1;
  }
  const auto open1 = std::chrono::steady_clock::now();
  reader.Pause();
  std::fprintf(stderr, "opened in %.1f ms (key frames indexed: %zu)\n",
               std::chrono::duration<double, std::milli>(open1 - open0).count(), reader.KeyFrames());
  const uint32_t duration = reader.GetDuration();
  for (int i = 0; i < seeks; ++i) {
    const uint32_t target = static_cast<uint32_t>(rng() % duration);
    const auto t0 = std::chrono::steady_clock::now();
    if (!reader.Seek(target)) {
      std::fprintf(stderr, "seek_bench: %s\n", reader.Error().c_str());
      return 1;
    }
    const auto t1 = std::chrono::steady_clock::now();
    std::printf("%u %.2f\n", target, std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  reader.Stop();
  return 0;
}
