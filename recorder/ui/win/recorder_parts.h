// Everything a recording of the Windows recorder uses, made once at program
// start and kept for its life: the capture, the three output sets (AVI,
// Windows Media, self-playing), the installed
// compressors, the sound path and the recording controller.
#pragma once

#include <memory>
#include <string>

#include "platform/desktop_state/win/desktop_state_win.h"
#include "platform/message/message.h"
#include "platform/mirror/mirror.h"
#include "recorder/audio/audio_recorder.h"
#include "recorder/audio/mp3_encoder.h"
#include "recorder/audio/recorder_sound.h"
#include "recorder/audio/win/winmm_audio.h"
#include "recorder/capture/screen_capture_source.h"
#include "recorder/codecs/installed/codec_choices.h"
#include "recorder/codecs/installed/installed_compressor.h"
#include "recorder/outputs/output_set.h"
#include "recorder/control/recording_controller.h"
#include "recorder/control/screen_video_source.h"

namespace kmr::win {

class RecorderParts {
 public:
  explicit RecorderParts(platform::MessageSink* messages);
  RecorderParts(const RecorderParts&) = delete;
  RecorderParts& operator=(const RecorderParts&) = delete;

  RecordingController& Controller() { return controller_; }
  const RecordingController& Controller() const { return controller_; }
  ScreenVideoSource& Video() { return video_; }
  ScreenCaptureSource& Capture() { return capture_; }
  InstalledCompressor& Compressor() { return compressor_; }
  AudioRecorder& SoundRecorder() { return audio_recorder_; }
  RecorderSound& Sound() { return sound_; }
  // The installed compressors' names and handler codes (listed once).
  // The installed compressors (listed the first time); RelistCompressors
  // lists them again (a compressor installed or removed meanwhile).
  void RelistCompressors();
  const std::vector<std::string>& CompressorNames();
  const std::vector<uint32_t>& CompressorHandlers();
  // The own codec's encoder for a choice, made anew for each recording.
  FrameEncoder* MakeEncoder(CodecChoice::Kind kind);

 private:
  void ListCompressors();

  platform::Win32DesktopState desktop_state_;
  std::string capture_method_;  // how the screen is captured, said in the debug log
  std::unique_ptr<platform::Mirror> mirror_;
  ScreenCaptureSource capture_;
  ScreenVideoSource video_;
  OutputSet avi_;
  OutputSet wmv_;
  OutputSet exe_;
  InstalledCompressor compressor_;
  bool listed_ = false;
  std::vector<std::string> compressor_names_;
  std::vector<uint32_t> compressor_handlers_;
  WaveInDevice wave_in_;
  WaveInMixer mixer_;
  AudioRecorder audio_recorder_;
  Mp3Encoder mp3_;
  RecorderSound sound_;
  RecordingController controller_;
  std::unique_ptr<FrameEncoder> encoder_;
};

}  // namespace kmr::win
