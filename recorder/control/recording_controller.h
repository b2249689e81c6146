// Recording control: picks the output set by the output kind (its writer,
// its video stream for the own codec or an installed compressor, its sound
// stream), prepares and starts the video source, then the sound, then opens
// the writer; stops producers first, then the writer. Failures are shown with
// the recorder's fixed texts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message/message.h"
#include "platform/notify/notify.h"
#include "recorder/control/sound_path.h"
#include "recorder/control/frame_capturer.h"
#include "recorder/outputs/media_writer.h"
#include "recorder/outputs/output_kind.h"
#include "recorder/outputs/output_set.h"
#include "recorder/codecs/changed_area_encoder.h"
#include "recorder/codecs/compressing_stage.h"
#include "recorder/control/screen_video_source.h"
#include "recorder/codecs/video_compressor.h"

namespace kmr {

inline constexpr uint32_t kWriterFailureMessage = 2027;
inline constexpr uint64_t kRecordingKeyInterval = 52428800;

namespace texts {
inline constexpr const char* kCannotStart = "Can not start recording!";
inline constexpr const char* kInvalidPath = "\n\nInvalid output file path!";
inline constexpr const char* kEmptyRegion = "\n\nThe region you are trying to record is empty.";
inline constexpr const char* kCaptureFailed =
    "\n\nFailed to capture screen, please try another codec.\nIf it still does not work, please reinstall this "
    "software.";
inline constexpr const char* kAudioFailed =
    "\n\nFailed to capture sound. Maybe your sound card is not a full-duplex sound card, so you can not play and "
    "record sound at the same time. If you are sure your sound card is a full-duplex sound card, maybe some "
    "components of this software are missing, please reinstall this software.";
inline constexpr const char* kOpenFailed =
    "\n\nFailed to write data to the file:\n\n%s\n\nMaybe the file is in use by other applications, or the file "
    "path is invalid. Please check.";
inline constexpr const char* kCannotContinue =
    "Can not continue recording!\n\nFailed to write data to the file:\n\n%s\n\nMaybe the file size exceeded the "
    "quota, or an unknown error occurred during A/V encoding.";
inline constexpr const char* kBadFrameRate = "\n\nThe frame rate must be a whole number of at least 1.";
inline constexpr const char* kFormatUnavailable = "\n\nThis output format or codec is not available in this build.";
// The cause given after the capture failure text when the installed
// compressor refuses the frames (the start failed on the video side).
inline constexpr const char* kCompressorRefused = "the video compressor refused the recorded area's frames";
}  // namespace texts

// The recorder window's own steps around a recording: hide the wallpaper,
// minimise, switch the tray icon and the border at start; undo them at stop;
// switch the icon on pause and resume. kelvo on Linux has none of these.
class RecordingHooks {
 public:
  virtual ~RecordingHooks() = default;
  // After the path and region checks, before the video starts.
  virtual void OnStarting(const struct RecordingSettings& settings) { (void)settings; }
  // At the end of every stop sequence (also the one that undoes a failed start).
  virtual void OnStopped() {}
  virtual void OnPaused() {}
  virtual void OnResumed() {}
};

struct RecordingSettings {
  OutputKind output = OutputKind::kExecutable;
  // The own codec that codes each frame; null when an installed compressor
  // is chosen instead.
  FrameEncoder* encoder = nullptr;
  // An installed compressor: the format's compressing stream codes the
  // changed frames with it.
  VideoCompressor* compressor = nullptr;
  std::string output_path;
  Rect capture_rect;       // screen coordinates
  std::string fps_text = "15";  // as typed
  bool record_audio = false;
  uint64_t key_interval = kRecordingKeyInterval;
  std::string title, author, copyright, description;
};

// A whole number of at least 1, or 0 when the text is not one.
uint32_t ParseFrameRate(const std::string& text);

class RecordingController {
 public:
  RecordingController(FrameCapturer* capture, ScreenVideoSource* video, platform::MessageSink* messages);

  // The writer of an output kind and its streams; the video stream takes an
  // installed compressor's frames too where takes_compressor. Kinds without
  // a writer are refused at start.
  void SetOutput(OutputKind kind, MediaWriter* writer, VideoStream* video, SoundStream* audio,
                 bool takes_compressor);
  void SetOutput(const OutputSet& set) {
    SetOutput(set.kind, set.writer.get(), set.video.get(), set.audio.get(), set.takes_compressor);
  }
  void SetSoundPath(SoundPath* audio) { audio_ = audio; }
  // Where writers post the failure message (the main window).
  void SetNotifyTarget(platform::NotifyTarget* target) { notify_ = target; }
  void SetHooks(RecordingHooks* hooks) { hooks_ = hooks; }

  bool Start(const RecordingSettings& settings);
  // The stop sequence; false when the file could not be finished or a write
  // failed during the recording.
  bool Stop();
  bool Pause();
  bool Resume();

  // The main window's entry points.
  void ToggleStartStop(const RecordingSettings& settings);
  void TogglePause();
  // Message 2027: the writer thread stopped on a failed write.
  void OnWriteFailure();
  // Whether the last recording ended in a write failure (shown to the user).
  bool LastRecordingFailed() const { return last_failed_; }

  bool IsRecording() const { return recording_; }
  bool IsPaused() const { return paused_; }
  MediaWriter* ActiveWriter() const { return writer_; }

 private:
  bool StartVideo(const RecordingSettings& s, uint32_t fps);
  bool FailStart(const std::string& detail);
  void ShowCannotContinue(const std::string& path, const std::string& cause);

  struct Output {
    MediaWriter* writer = nullptr;
    VideoStream* video = nullptr;
    SoundStream* audio = nullptr;
    bool takes_compressor = false;
  };
  // The output of a kind; null for one never set.
  const Output* OutputOf(OutputKind kind) const;

  FrameCapturer* capture_;
  ScreenVideoSource* video_;
  platform::MessageSink* messages_;
  platform::NotifyTarget* notify_ = nullptr;
  SoundPath* audio_ = nullptr;
  RecordingHooks* hooks_ = nullptr;
  Output outputs_[kOutputKinds];
  MediaWriter* writer_ = nullptr;
  ChangedAreaEncoder changed_area_;
  CompressingStage compressing_;
  VideoCompressor* compressor_on_ = nullptr;  // begun for this recording
  bool compressor_refused_ = false;
  bool audio_on_ = false;
  bool recording_ = false;
  bool paused_ = false;
  bool last_failed_ = false;
};

}  // namespace kmr
