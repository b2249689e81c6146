#include "player/playback_session.h"

#include "player/recording_file.h"

namespace kmr {

bool PlaybackSession::Check(std::string* error) const {
  std::string why;
  if (OpenRecordingFile(options_.path, &why) != nullptr) return true;
  *error = Name() + ": " + why;
  return false;
}

bool PlaybackSession::Start(std::string* error) {
  if (video_ != nullptr) reader_->AddDecoder(video_);
  if (sound_ != nullptr) reader_->AddDecoder(sound_);
  reader_->SetSource(options_.path);
  reader_->SetLoop(options_.loop);
  reader_->SetQuickPlay(options_.quick);
  if (!reader_->Start()) {
    *error = reader_->Error();
    return false;
  }
  // Right after the start: a quick play may have run the sound to its end
  // by the time the window is up.
  sound_note_.clear();
  if (sound_ != nullptr && sound_->SampleRate() != 0 && !sound_->IsRunning()) {
    sound_note_ = "playing without sound: " + sound_->Failure();
  }
  return true;
}

std::vector<std::string> PlaybackSession::Begin() {
  std::vector<std::string> said;
  if (options_.seek_ms != 0 && !reader_->Seek(options_.seek_ms)) said.push_back(reader_->Error());
  // The picture plays on without a sound output; whoever listens is told.
  if (!sound_note_.empty()) said.push_back(sound_note_);
  return said;
}

int PlaybackSession::Finish(std::string* error) {
  reader_->Stop();
  error->clear();
  if (reader_->Error().empty()) return 0;
  *error = Name() + ": " + reader_->Error();
  return options_.exit_at_end ? 1 : 0;
}

}  // namespace kmr
