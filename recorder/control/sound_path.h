// What recording control needs from the sound side (the sound path): start it on a writer and
// the output's sound stream (which joins the writer after the video stream) and on the recording's time line (which the
// video source pauses and resumes, so that the sound is cut where the picture is), pause, resume
// and stop.
#pragma once

namespace kmr {

class SoundStream;
class MediaWriter;
class RecordingTimeline;

class SoundPath {
 public:
  virtual ~SoundPath() = default;
  virtual bool Start(MediaWriter* writer, SoundStream* stream, RecordingTimeline* timeline) = 0;
  virtual void Stop() = 0;
  virtual bool Pause() = 0;
  virtual bool Resume() = 0;
};

}  // namespace kmr
