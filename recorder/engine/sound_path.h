// What recording control needs from the sound side (the sound path): start it on a writer (its
// stream joins the writer after the video stream), pause, resume and stop.
#pragma once

namespace kmr {

class MediaWriter;

class SoundPath {
 public:
  virtual ~SoundPath() = default;
  virtual bool Start(MediaWriter* writer) = 0;
  virtual void Stop() = 0;
  virtual bool Pause() = 0;
  virtual bool Resume() = 0;
};

}  // namespace kmr
