#include "recorder/outputs/container/container_writer.h"

#include <algorithm>
#include <vector>

#include "recorder/outputs/container/container_stream.h"
#include "shared/container/container_format.h"

namespace kmr {

ContainerWriter::ContainerWriter(const char* format_name, const char* extension, platform::MsClock* clock)
    : MediaWriter(format_name, extension), clock_(clock) {}

ContainerWriter::~ContainerWriter() = default;

std::unique_ptr<OutputFile> ContainerWriter::CreateFile(const std::string& path, const char* mode,
                                                        std::string* error) {
  return StdioOutputFile::Open(path, mode, error);
}

std::string ContainerWriter::Error() const {
  if (file_ != nullptr && file_->Failed()) return file_->Error();
  return MediaWriter::Error();
}

bool ContainerWriter::Bind(ContainerStream& stream, uint32_t id) {
  if (file_ == nullptr || !stream.Bind(file_.get(), id)) return false;
  bound_.push_back(&stream);
  return true;
}

bool ContainerWriter::OpenContainer(std::unique_ptr<OutputFile> file) {
  file_ = std::move(file);
  bound_.clear();
  SetError("");
  const uint64_t start = file_->Position();
  bool ok = start < kMaxContainerFilePosition;
  if (!ok) file_->NoteError("The file is already as large as a recording can be.");
  if (ok) {
    container_start_ = static_cast<uint32_t>(start);
    std::vector<uint8_t> count;
    ByteWriter w(&count);
    w.U16(static_cast<uint16_t>(Streams().size()));
    ok = file_->Write(count.data(), count.size());
  }
  for (size_t i = 0; ok && i < Streams().size(); ++i) {
    MediaStream* stream = Streams()[i];
    if (stream == nullptr) continue;
    ok = stream->BindTo(*this, static_cast<uint32_t>(i)) && stream->Open();
  }
  // The descriptors reach the file before the first packet is queued.
  if (ok) ok = file_->Flush();
  file_->MarkRecordEnd();
  durable_end_ = descriptors_end_ = file_->RecordEnd();
  last_flush_ms_ = clock_->NowMs();
  if (ok && !StartWriterThread()) {
    file_->NoteError("The writer thread could not be started.");
    ok = false;
  }
  if (!ok) {
    file_->Close();
    SetError(file_->Error());
    file_.reset();
  }
  return ok;
}

bool ContainerWriter::OnPacketWritten(bool idle) {
  const uint32_t now = clock_->NowMs();
  if (!idle && now - last_flush_ms_ < kFlushIntervalMs) return true;
  last_flush_ms_ = now;
  if (!file_->Flush()) return false;
  durable_end_ = file_->RecordEnd();
  return true;
}

bool ContainerWriter::WriteTrailer(uint32_t duration) {
  std::vector<uint8_t> bytes;
  ByteWriter w(&bytes);
  Trailer{duration, container_start_, kTrailerMagic}.Write(w);
  return file_->Write(bytes.data(), bytes.size());
}

bool ContainerWriter::Close() {
  if (file_ == nullptr) {
    StopWriterThread();
    return true;
  }
  StopWriterThread();
  const bool failed = file_->Failed();
  uint32_t duration = 0;
  for (ContainerStream* stream : bound_) {
    // After a failure only what reached the file counts.
    duration = std::max(duration, failed ? stream->WrittenEndTime() : stream->GetEndTime());
    stream->Close();
  }
  bound_.clear();
  // After a failure the file is finished once the trailer reached the system
  // (the file's error stays the first one).
  const bool finished = failed ? FinishAfterFailure(duration) : WriteTrailer(duration);
  const bool closed = file_->Close();
  SetError(file_->Error());
  file_.reset();
  if (failed || !finished || !closed) TellWhatTheFileKeeps(failed ? finished : finished && closed);
  return finished && closed && !failed;
}

bool ContainerWriter::FinishAfterFailure(uint32_t duration) {
  // A torn packet would hide the trailer from every reader; cutting it off
  // also frees the room the trailer needs on a full disk. What is still
  // buffered goes out if it can; the file then ends at the last whole packet
  // after which the trailer fits.
  std::vector<uint64_t> cuts;
  if (file_->Flush()) cuts = file_->RecordEnds();
  cuts.insert(cuts.begin(), durable_end_);
  for (auto it = cuts.rbegin(); it != cuts.rend(); ++it) {
    if (*it > file_->Position() || *it < descriptors_end_) continue;
    if (file_->Position() != *it && !file_->Truncate(*it)) continue;
    if (WriteTrailer(duration) && file_->Flush()) return true;
  }
  return false;
}

bool StandaloneContainerWriter::Open() {
  if (Path().empty()) return false;
  Close();
  std::string error;
  std::unique_ptr<OutputFile> f = CreateFile(Path(), "wb", &error);
  if (f == nullptr) {
    SetError(error);
    return false;
  }
  return OpenContainer(std::move(f));
}

}  // namespace kmr
