// The steps both players take around their window, written once: the
// recording looked at before any window opens, the reader set up from the
// command line (loop, quick play) and started, the seek asked for, what is
// said about sound that cannot be heard, and the report at the end.
#pragma once

#include <string>
#include <vector>

#include "player/audio/audio_decoder.h"
#include "player/container_reader.h"
#include "player/player_options.h"

namespace kmr {

class PlaybackSession {
 public:
  PlaybackSession(const PlayerOptions& options, ContainerReader* reader, StreamDecoder* video, AudioDecoder* sound)
      : options_(options), reader_(reader), video_(video), sound_(sound) {}

  // What the messages call the recording: the file, or "This program" for
  // the recording appended to the player itself.
  std::string Name() const { return options_.path.empty() ? "This program" : options_.path; }
  // Whether the recording plays at all; false with *error ("NAME: why").
  bool Check(std::string* error) const;
  // The decoders, loop and quick play, then the reader started; false with
  // *error (the reader's reason).
  bool Start(std::string* error);
  // Once the window is up: the seek asked for. Returns the lines worth
  // telling on the way (a seek that failed, sound that cannot be heard).
  std::vector<std::string> Begin();
  // After the window: the reader stopped. A recording that could not be
  // played to its end says why in *error; the exit code is 1 for it with
  // --exit-at-end, else 0.
  int Finish(std::string* error);

 private:
  PlayerOptions options_;
  ContainerReader* reader_;
  StreamDecoder* video_;
  AudioDecoder* sound_;
  std::string sound_note_;
};

}  // namespace kmr
