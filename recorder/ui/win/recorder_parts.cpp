#include "recorder/ui/win/recorder_parts.h"

#include "platform/mirror/win/quarn_mirror.h"
#include "recorder/codecs/own_codecs.h"
#include "shared/trace.h"

namespace kmr::win {

RecorderParts::RecorderParts(platform::MessageSink* messages)
    : mirror_(platform::CreateCaptureMirror(platform::CaptureMethod::kAutomatic, &capture_method_)),
      capture_(mirror_.get()),
      video_(&capture_),
      avi_(MakeOutputSet(OutputKind::kAvi)),
      wmv_(MakeOutputSet(OutputKind::kWindowsMedia)),
      exe_(MakeOutputSet(OutputKind::kExecutable)),
      compressor_(MakeSystemCompressorManager()),
      audio_recorder_(&wave_in_, &mixer_),
      sound_(&mp3_, &audio_recorder_),
      controller_(&capture_, &video_, messages) {
  // The player beside the recorder becomes the start of every self-playing file.
  exe_.executable->SetPlayerPathBesideModule("morvin");
  controller_.SetOutput(avi_);
  controller_.SetOutput(wmv_);
  controller_.SetOutput(exe_);
  controller_.SetSoundPath(&sound_);
  // The MP3 encoder library is the user's ("lame_enc.dll"); without it a
  // recording with sound says so at start.
  mp3_.Load();
  Trace(nullptr, "kelvo: the screen is captured through %s\n", capture_method_.c_str());
}

void RecorderParts::ListCompressors() {
  if (listed_) return;
  listed_ = true;
  compressor_.SetInputFormat(InstalledCompressor::ListingFormat());
  compressor_.List(&compressor_names_);
  for (size_t i = 0; i < compressor_.Count(); ++i) compressor_handlers_.push_back(compressor_.EntryInfo(i).handler);
}

void RecorderParts::RelistCompressors() {
  listed_ = false;
  compressor_names_.clear();
  compressor_handlers_.clear();
  ListCompressors();
}

const std::vector<std::string>& RecorderParts::CompressorNames() {
  ListCompressors();
  return compressor_names_;
}

const std::vector<uint32_t>& RecorderParts::CompressorHandlers() {
  ListCompressors();
  return compressor_handlers_;
}

FrameEncoder* RecorderParts::MakeEncoder(CodecChoice::Kind kind) {
  const std::string name = kind == CodecChoice::Kind::kOwnLossy ? kLossyCodecName : kLosslessCodecName;
  for (const OwnCodec& codec : OwnCodecs()) {
    if (name == codec.name) {
      encoder_ = codec.make(&desktop_state_);
      return encoder_.get();
    }
  }
  return nullptr;
}

}  // namespace kmr::win
