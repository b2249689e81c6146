// Stand-ins for the AVI file library and the Windows Media runtime that
// record every call, so the writers' calls can be checked without a file.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recorder/outputs/avi/avi_file.h"
#include "recorder/outputs/wmv/wm_runtime.h"

namespace kmr::testing {

struct AviLog {
  struct Write {
    int stream;
    int32_t start;
    int32_t samples;
    std::vector<uint8_t> data;
    uint32_t flags;
  };
  std::mutex mutex;
  std::vector<std::string> calls;  // "open", "create", "format", "release-stream", "release"
  std::string path;
  uint32_t mode = 0;
  std::vector<AviStreamInfo> streams;
  std::vector<std::vector<uint8_t>> formats;
  std::vector<Write> writes;
  // Scripted failures.
  bool refuse_open = false;
  bool refuse_stream = false;
  int fail_write_from = 0;  // the n-th write (1-based) and later fail

  void Call(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(what);
  }
  int Count(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (const auto& c : calls) n += c == what;
    return n;
  }
};

class RecordingAviStream : public AviFileStream {
 public:
  RecordingAviStream(AviLog* log, int index) : log_(log), index_(index) {}
  ~RecordingAviStream() override { log_->Call("release-stream"); }
  bool SetFormat(const std::vector<uint8_t>& format) override {
    log_->Call("format");
    std::lock_guard<std::mutex> lock(log_->mutex);
    log_->formats[static_cast<size_t>(index_)] = format;
    return true;
  }
  bool Write(int32_t start, int32_t samples, const void* data, uint32_t size, uint32_t flags) override {
    std::lock_guard<std::mutex> lock(log_->mutex);
    const auto* p = static_cast<const uint8_t*>(data);
    log_->writes.push_back({index_, start, samples, std::vector<uint8_t>(p, p + size), flags});
    return log_->fail_write_from == 0 || static_cast<int>(log_->writes.size()) < log_->fail_write_from;
  }

 private:
  AviLog* log_;
  int index_;
};

class RecordingAviFile : public AviFile {
 public:
  explicit RecordingAviFile(AviLog* log) : log_(log) {}
  std::unique_ptr<AviFileStream> CreateStream(const AviStreamInfo& info) override {
    log_->Call("create");
    if (log_->refuse_stream) return nullptr;
    std::lock_guard<std::mutex> lock(log_->mutex);
    log_->streams.push_back(info);
    log_->formats.emplace_back();
    return std::make_unique<RecordingAviStream>(log_, static_cast<int>(log_->streams.size()) - 1);
  }
  bool Release(std::string*) override {
    log_->Call("release");
    return true;
  }
  std::string Error() const override { return log_->fail_write_from != 0 ? "the disk is full" : ""; }

 private:
  AviLog* log_;
};

class RecordingAviLibrary : public AviLibrary {
 public:
  explicit RecordingAviLibrary(AviLog* log) : log_(log) {}
  std::unique_ptr<AviFile> Open(const std::string& path, uint32_t mode, std::string* error) override {
    log_->Call("open");
    log_->path = path;
    log_->mode = mode;
    if (log_->refuse_open) {
      *error = "cannot create the file";
      return nullptr;
    }
    return std::make_unique<RecordingAviFile>(log_);
  }

 private:
  AviLog* log_;
};

// ---------------------------------------------------------------------------

struct WmLog {
  struct Sample {
    uint16_t number;
    uint64_t sample_time;
    uint32_t send_time;
    uint64_t duration;
    uint32_t flags;
    std::vector<uint8_t> data;
  };
  struct CodecInfo {
    std::u16string name, description;
    uint16_t type;
    std::vector<uint8_t> info;
  };
  struct Attribute {
    uint16_t stream;
    std::u16string name, value;
  };
  std::mutex mutex;
  std::vector<std::string> calls;
  uint32_t profile_version = 0;
  std::vector<WmProfileStream> profile;
  std::u16string output;
  std::vector<CodecInfo> codec_info;
  std::vector<Attribute> attributes;
  std::vector<Sample> samples;
  bool refuse_begin = false;
  bool refuse_audio_type = false;  // the runtime does not take the audio media type
  int fail_sample_from = 0;

  void Call(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(what);
  }
};

class RecordingWmSample : public WmSample {
 public:
  explicit RecordingWmSample(uint32_t size) : bytes(size) {}
  uint8_t* Data() override { return bytes.data(); }
  uint32_t Capacity() const override { return static_cast<uint32_t>(bytes.size()); }
  bool SetLength(uint32_t n) override {
    length = n;
    return n <= bytes.size();
  }
  std::vector<uint8_t> bytes;
  uint32_t length = 0;
};

class RecordingWmRuntime : public WmRuntime {
 public:
  explicit RecordingWmRuntime(WmLog* log) : log_(log) {}
  bool CreateProfile(uint32_t version) override {
    log_->Call("create-profile");
    log_->profile_version = version;
    log_->profile.clear();
    return true;
  }
  bool AddProfileStream(const WmProfileStream& s) override {
    log_->Call("add-stream");
    if (log_->refuse_audio_type && s.major_type == kMediaTypeAudio) return false;
    log_->profile.push_back(s);
    return true;
  }
  void ReleaseProfile() override { log_->Call("release-profile"); }
  bool SetProfile() override {
    log_->Call("set-profile");
    return true;
  }
  bool SetInputsUncompressedNone() override {
    log_->Call("inputs-none");
    return true;
  }
  bool SetOutputFilename(const std::u16string& path) override {
    log_->Call("output");
    log_->output = path;
    return true;
  }
  void AddCodecInfo(const std::u16string& name, const std::u16string& description, uint16_t type,
                    const std::vector<uint8_t>& info) override {
    log_->Call("codec-info");
    log_->codec_info.push_back({name, description, type, info});
  }
  void AddStringAttribute(uint16_t stream, const std::u16string& name, const std::u16string& value) override {
    log_->Call("attribute");
    log_->attributes.push_back({stream, name, value});
  }
  bool BeginWriting() override {
    log_->Call("begin");
    return !log_->refuse_begin;
  }
  bool EndWriting() override {
    log_->Call("end");
    return true;
  }
  std::unique_ptr<WmSample> AllocateSample(uint32_t size) override {
    return std::make_unique<RecordingWmSample>(size);
  }
  bool WriteStreamSample(uint16_t number, uint64_t sample_time, uint32_t send_time, uint64_t duration,
                         uint32_t flags, WmSample* sample) override {
    auto* s = static_cast<RecordingWmSample*>(sample);
    std::lock_guard<std::mutex> lock(log_->mutex);
    bool known = false;
    for (const auto& p : log_->profile) known = known || p.number == number;
    log_->samples.push_back({number, sample_time, send_time, duration, flags,
                             std::vector<uint8_t>(s->bytes.begin(), s->bytes.begin() + s->length)});
    if (!known) return false;
    return log_->fail_sample_from == 0 || static_cast<int>(log_->samples.size()) < log_->fail_sample_from;
  }

 private:
  WmLog* log_;
};

class RecordingWmFactory : public WmRuntimeFactory {
 public:
  explicit RecordingWmFactory(WmLog* log, bool missing = false) : log_(log), missing_(missing) {}
  std::unique_ptr<WmRuntime> CreateWriter(std::string* error) override {
    if (missing_) {
      *error = "wmvcore.dll was not found";
      return nullptr;
    }
    return std::make_unique<RecordingWmRuntime>(log_);
  }

 private:
  WmLog* log_;
  bool missing_;
};

}  // namespace kmr::testing
