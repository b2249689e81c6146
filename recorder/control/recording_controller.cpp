#include "recorder/control/recording_controller.h"

#include <vector>

#include "shared/text/format_text.h"
#include "shared/trace.h"

namespace kmr {

namespace {

// The fixed text, then what really went wrong when it is known.
std::string WithCause(std::string text, const std::string& cause) {
  if (!cause.empty()) text += "\n\n" + cause;
  return text;
}

}  // namespace

uint32_t ParseFrameRate(const std::string& text) {
  if (text.empty() || text.size() > 9) return 0;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  return v;
}

RecordingController::RecordingController(FrameCapturer* capture, ScreenVideoSource* video,
                                         platform::MessageSink* messages)
    : capture_(capture), video_(video), messages_(messages) {}

void RecordingController::SetOutput(OutputKind kind, MediaWriter* writer, VideoStream* video, SoundStream* audio,
                                    bool takes_compressor) {
  const auto i = static_cast<size_t>(kind);
  if (i >= kOutputKinds) return;
  outputs_[i] = Output{writer, video, audio, takes_compressor};
}

const RecordingController::Output* RecordingController::OutputOf(OutputKind kind) const {
  const auto i = static_cast<size_t>(kind);
  if (i >= kOutputKinds || outputs_[i].writer == nullptr || outputs_[i].video == nullptr) return nullptr;
  return &outputs_[i];
}

bool RecordingController::FailStart(const std::string& detail) {
  messages_->ShowStop(std::string(texts::kCannotStart) + detail);
  return false;
}

bool RecordingController::StartVideo(const RecordingSettings& s, uint32_t fps) {
  const Output& f = *OutputOf(s.output);
  writer_ = f.writer;
  const bool compressing = s.compressor != nullptr;
  VideoStream* stream = compressing && !f.takes_compressor ? nullptr : f.video;
  FrameEncoder* encoder = compressing ? &changed_area_ : s.encoder;
  if (stream == nullptr || encoder == nullptr) return false;
  if (!capture_->Prepare(encoder)) return false;
  if (s.capture_rect.IsEmpty()) return false;
  capture_->SetRect(s.capture_rect);
  video_->SetFps(fps);
  capture_->SetKeyInterval(s.key_interval);
  if (compressing) {
    // Frames of the recorded area, 32 bits, bottom-up, sides made even.
    const Rect r = capture_->Format().capture_rect;
    BitmapInfoHeader h;
    h.width = r.Width() + r.Width() % 2;
    h.height = r.Height() + r.Height() % 2;
    h.bit_count = 32;
    h.compression = 0;
    h.size_image = DibStride(static_cast<uint32_t>(h.width), 32) * static_cast<uint32_t>(h.height);
    std::vector<uint8_t> header;
    ByteWriter w(&header);
    h.Write(w);
    if (!s.compressor->StartFrames(header, fps, 1)) {
      compressor_refused_ = true;
      return false;
    }
    compressor_on_ = s.compressor;
    if (!stream->Attach(FormatOf(*s.compressor))) return false;
  } else if (!stream->Attach(capture_->Format())) {
    return false;
  }
  stream->SetWriter(writer_);
  if (!writer_->AddStream(stream)) return false;
  if (compressing) {
    // The compressor codes the frames in front of the stream, on its own
    // time line.
    compressing_.Begin(s.compressor, stream);
    if (!video_->SetOutput(encoder, &compressing_, compressing_.Timebase())) return false;
  } else if (!video_->SetOutput(encoder, stream)) {
    return false;
  }
  return video_->Start();
}

bool RecordingController::Start(const RecordingSettings& s) {
  last_failed_ = false;
  if (s.output_path.empty()) return FailStart(texts::kInvalidPath);
  if (s.capture_rect.IsEmpty()) return FailStart(texts::kEmptyRegion);
  const uint32_t fps = ParseFrameRate(s.fps_text);
  if (fps == 0) return FailStart(texts::kBadFrameRate);
  const Output* out = OutputOf(s.output);
  if (out == nullptr || (s.compressor != nullptr ? !out->takes_compressor : s.encoder == nullptr)) {
    return FailStart(texts::kFormatUnavailable);
  }
  if (hooks_ != nullptr) hooks_->OnStarting(s);
  compressor_refused_ = false;
  if (!StartVideo(s, fps)) {
    if (compressor_refused_) return FailStart(WithCause(texts::kCaptureFailed, texts::kCompressorRefused));
    return FailStart(WithCause(texts::kCaptureFailed, capture_->Error()));
  }
  audio_on_ = false;
  if (s.record_audio) {
    if (audio_ == nullptr || out->audio == nullptr || !audio_->Start(writer_, out->audio, video_->Timeline())) {
      return FailStart(texts::kAudioFailed);
    }
    audio_on_ = true;
  }
  writer_->SetPath(s.output_path.c_str());
  writer_->SetTitle(s.title.c_str());
  writer_->SetAuthor(s.author.c_str());
  writer_->SetCopyright(s.copyright.c_str());
  writer_->SetDescription(s.description.c_str());
  writer_->SetNotify(notify_, kWriterFailureMessage);
  if (!writer_->Open()) {
    return FailStart(WithCause(FormatText(texts::kOpenFailed, s.output_path), writer_->Error()));
  }
  return true;
}

bool RecordingController::Stop() {
  if (audio_on_ && audio_ != nullptr) audio_->Stop();
  audio_on_ = false;
  video_->Stop();
  if (compressor_on_ != nullptr) compressor_on_->FinishFrames();
  compressor_on_ = nullptr;
  capture_->Release();
  bool ok = true;
  if (writer_ != nullptr) {
    ok = writer_->Close();
    writer_->ClearStreams();
  }
  if (hooks_ != nullptr) hooks_->OnStopped();
  return ok;
}

bool RecordingController::Pause() {
  if (audio_on_ && audio_ != nullptr) audio_->Pause();
  video_->Pause();
  if (hooks_ != nullptr) hooks_->OnPaused();
  return true;
}

bool RecordingController::Resume() {
  if (audio_on_ && audio_ != nullptr) audio_->Resume();
  video_->Resume();
  if (hooks_ != nullptr) hooks_->OnResumed();
  return true;
}

void RecordingController::ShowCannotContinue(const std::string& path, const std::string& cause) {
  last_failed_ = true;
  messages_->ShowStop(WithCause(FormatText(texts::kCannotContinue, path), cause));
}

void RecordingController::ToggleStartStop(const RecordingSettings& settings) {
  Trace(nullptr, "OnHotKeyStart()\n");
  if (recording_) {
    char path[260] = "";
    if (writer_ != nullptr) writer_->GetPath(path, sizeof(path));
    const bool finished = Stop();
    recording_ = paused_ = false;
    // A failure that no message reported yet (a writer without a window to
    // tell, or the file's last bytes) is shown now.
    if (!finished) ShowCannotContinue(path, writer_ != nullptr ? writer_->Error() : std::string());
    return;
  }
  recording_ = Start(settings);
  paused_ = false;
  if (!recording_) Stop();
}

void RecordingController::TogglePause() {
  Trace(nullptr, "OnHotKeyPause()\n");
  if (!recording_) return;
  if (paused_) {
    if (Resume()) paused_ = false;
  } else {
    paused_ = Pause();
  }
}

void RecordingController::OnWriteFailure() {
  if (!recording_) return;
  char path[260] = "";
  if (writer_ != nullptr) writer_->GetPath(path, sizeof(path));
  Stop();
  recording_ = paused_ = false;
  ShowCannotContinue(path, writer_ != nullptr ? writer_->Error() : std::string());
}

}  // namespace kmr
