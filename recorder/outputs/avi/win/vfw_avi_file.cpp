// The AVI file library over AVIFile (vfw32).
#include <windows.h>
#include <vfw.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "recorder/outputs/avi/avi_check.h"
#include "recorder/outputs/avi/avi_file.h"

namespace kmr {

namespace {

std::string AviErrorText(HRESULT hr) {
  switch (hr) {
    case AVIERR_FILEOPEN:
      return "The file cannot be created.";
    case AVIERR_FILEWRITE:
      return "The file cannot be written (is the disk full?).";
    case AVIERR_MEMORY:
      return "There is not enough memory.";
    case AVIERR_UNSUPPORTED:
    case AVIERR_BADFORMAT:
    case AVIERR_BADPARAM:
      return "The AVI file library refused the stream or its data.";
    default: {
      char text[64];
      std::snprintf(text, sizeof(text), "The AVI file library failed (error 0x%08lX).",
                    static_cast<unsigned long>(hr));
      return text;
    }
  }
}

class VfwAviStream : public AviFileStream {
 public:
  VfwAviStream(PAVISTREAM stream, HRESULT* last) : stream_(stream), last_(last) {}
  ~VfwAviStream() override { AVIStreamRelease(stream_); }

  bool SetFormat(const std::vector<uint8_t>& format) override {
    *last_ = AVIStreamSetFormat(stream_, 0, const_cast<uint8_t*>(format.data()), static_cast<LONG>(format.size()));
    return *last_ == AVIERR_OK;
  }
  bool Write(int32_t start, int32_t samples, const void* data, uint32_t size, uint32_t flags) override {
    *last_ = AVIStreamWrite(stream_, start, samples, const_cast<void*>(data), static_cast<LONG>(size), flags, nullptr,
                            nullptr);
    return *last_ == AVIERR_OK;
  }

 private:
  PAVISTREAM stream_;
  HRESULT* last_;
};

class VfwAviFile : public AviFile {
 public:
  VfwAviFile(PAVIFILE file, std::string path) : file_(file), path_(std::move(path)) {}
  ~VfwAviFile() override {
    if (file_ != nullptr) AVIFileRelease(file_);
  }

  std::unique_ptr<AviFileStream> CreateStream(const AviStreamInfo& info) override {
    AVISTREAMINFOA si;
    std::memset(&si, 0, sizeof(si));
    si.fccType = info.type;
    si.fccHandler = info.handler;
    si.dwFlags = info.flags;
    si.dwCaps = info.capabilities;
    si.wPriority = info.priority;
    si.wLanguage = info.language;
    si.dwScale = info.scale;
    si.dwRate = info.rate;
    si.dwStart = info.start;
    si.dwLength = info.length;
    si.dwInitialFrames = info.initial_frames;
    si.dwSuggestedBufferSize = info.suggested_buffer_size;
    si.dwQuality = info.quality;
    si.dwSampleSize = info.sample_size;
    SetRect(&si.rcFrame, info.frame.left, info.frame.top, info.frame.right, info.frame.bottom);
    si.dwEditCount = info.edit_count;
    si.dwFormatChangeCount = info.format_change_count;
    std::strncpy(si.szName, info.name.c_str(), sizeof(si.szName) - 1);
    PAVISTREAM stream = nullptr;
    last_ = AVIFileCreateStreamA(file_, &stream, &si);
    if (last_ != AVIERR_OK || stream == nullptr) return nullptr;
    return std::make_unique<VfwAviStream>(stream, &last_);
  }
  // The library writes the index and headers when the last reference goes,
  // and that write gives no result: the file is read back to see whether it
  // was finished.
  bool Release(std::string* error) override {
    if (file_ == nullptr) return true;
    AVIFileRelease(file_);
    file_ = nullptr;
    if (last_ != AVIERR_OK) {
      *error = AviErrorText(last_);
      return false;
    }
    std::string why;
    if (!AviFileFinished(path_, &why)) {
      *error = "The AVI file library did not finish the file: " + why + ".";
      return false;
    }
    return true;
  }
  std::string Error() const override { return last_ == AVIERR_OK ? std::string() : AviErrorText(last_); }

 private:
  PAVIFILE file_;
  std::string path_;
  HRESULT last_ = AVIERR_OK;
};

class VfwAviLibrary : public AviLibrary {
 public:
  VfwAviLibrary() { AVIFileInit(); }
  ~VfwAviLibrary() override { AVIFileExit(); }
  std::unique_ptr<AviFile> Open(const std::string& path, uint32_t mode, std::string* error) override {
    PAVIFILE file = nullptr;
    const HRESULT hr = AVIFileOpenA(&file, path.c_str(), mode, nullptr);
    if (hr != AVIERR_OK || file == nullptr) {
      const DWORD attributes = GetFileAttributesA(path.substr(0, path.find_last_of("\\/")).c_str());
      *error = path.find_last_of("\\/") != std::string::npos && attributes == INVALID_FILE_ATTRIBUTES
                   ? "The folder does not exist."
                   : AviErrorText(hr);
      return nullptr;
    }
    return std::make_unique<VfwAviFile>(file, path);
  }
};

}  // namespace

std::unique_ptr<AviLibrary> MakeSystemAviLibrary() { return std::make_unique<VfwAviLibrary>(); }

}  // namespace kmr
