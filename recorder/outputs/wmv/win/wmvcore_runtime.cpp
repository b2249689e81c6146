// The Windows Media Format runtime's writer, with its header-info and
// advanced interfaces and the profile manager, from "wmvcore.dll" loaded at
// run time (mingw has no import library for it).
#include <windows.h>
#include <initguid.h>
#include <wmsdkidl.h>

#include "recorder/outputs/wmv/win/wmvcore_runtime.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/library/library.h"
#include "recorder/outputs/wmv/wm_runtime.h"

namespace kmr {

namespace {


template <typename T>
void ReleaseInto(T** p) {
  if (*p != nullptr) (*p)->Release();
  *p = nullptr;
}

GUID ToGuid(const Guid& g) {
  GUID out;
  out.Data1 = g.data1;
  out.Data2 = g.data2;
  out.Data3 = g.data3;
  std::memcpy(out.Data4, g.data4.data(), 8);
  return out;
}

const WCHAR* Wide(const std::u16string& s) { return reinterpret_cast<const WCHAR*>(s.c_str()); }

std::string HresultText(const char* what, HRESULT hr) {
  char text[160];
  std::snprintf(text, sizeof(text), "%s (error 0x%08lX)", what, static_cast<unsigned long>(hr));
  return text;
}

class BufferSample : public WmSample {
 public:
  explicit BufferSample(INSSBuffer* buffer) : buffer_(buffer) {}
  ~BufferSample() override { ReleaseInto(&buffer_); }
  uint8_t* Data() override {
    BYTE* data = nullptr;
    return SUCCEEDED(buffer_->GetBuffer(&data)) ? data : nullptr;
  }
  uint32_t Capacity() const override {
    DWORD n = 0;
    return SUCCEEDED(buffer_->GetMaxLength(&n)) ? n : 0;
  }
  bool SetLength(uint32_t length) override { return SUCCEEDED(buffer_->SetLength(length)); }
  INSSBuffer* Buffer() const { return buffer_; }

 private:
  INSSBuffer* buffer_;
};

class WmvcoreRuntime : public WmRuntime {
 public:
  ~WmvcoreRuntime() override {
    ReleaseProfile();
    ReleaseInto(&header_);
    ReleaseInto(&advanced_);
    ReleaseInto(&writer_);
    ReleaseInto(&manager_);
  }

  // From "wmvcore.dll".
  bool Load(std::string* error) {
    if (!library_.Open("wmvcore.dll")) {
      *error = "The Windows Media runtime (wmvcore.dll) is not installed: " + library_.Error();
      return false;
    }
    auto create_writer = reinterpret_cast<WmCreateWriterFn>(library_.Symbol("WMCreateWriter"));
    auto create_manager = reinterpret_cast<WmCreateProfileManagerFn>(library_.Symbol("WMCreateProfileManager"));
    if (create_writer == nullptr || create_manager == nullptr) {
      *error = "wmvcore.dll has no writer";
      return false;
    }
    return Create(create_writer, create_manager, error);
  }

  bool Create(WmCreateWriterFn create_writer, WmCreateProfileManagerFn create_manager, std::string* error) {
    HRESULT hr = create_manager(&manager_);
    if (FAILED(hr)) return *error = HresultText("The Windows Media profile manager cannot be made", hr), false;
    hr = create_writer(nullptr, &writer_);
    if (FAILED(hr)) return *error = HresultText("The Windows Media writer cannot be made", hr), false;
    hr = writer_->QueryInterface(IID_IWMWriterAdvanced, reinterpret_cast<void**>(&advanced_));
    if (FAILED(hr)) return *error = HresultText("The Windows Media writer has no advanced interface", hr), false;
    hr = writer_->QueryInterface(IID_IWMHeaderInfo3, reinterpret_cast<void**>(&header_));
    if (FAILED(hr)) return *error = HresultText("The Windows Media writer has no header interface", hr), false;
    return true;
  }

  bool CreateProfile(uint32_t version) override {
    // Every recording starts here: a cause from an earlier one is not this one's.
    error_.clear();
    ReleaseProfile();
    return Check(manager_->CreateEmptyProfile(static_cast<WMT_VERSION>(version), &profile_),
                 "The Windows Media profile cannot be made");
  }

  bool AddProfileStream(const WmProfileStream& s) override {
    if (profile_ == nullptr) return false;
    IWMStreamConfig* config = nullptr;
    const GUID major = ToGuid(s.major_type);
    if (FAILED(profile_->CreateNewStream(major, &config))) return false;
    config->SetStreamNumber(s.number);
    config->SetBitrate(s.bitrate);
    config->SetBufferWindow(s.buffer_window);
    if (s.variable_bit_rate) {
      IWMPropertyVault* vault = nullptr;
      if (SUCCEEDED(config->QueryInterface(IID_IWMPropertyVault, reinterpret_cast<void**>(&vault)))) {
        BOOL on = TRUE;
        DWORD rmax = s.rmax, bmax = s.bmax;
        vault->SetProperty(L"_VBRENABLED", WMT_TYPE_BOOL, reinterpret_cast<BYTE*>(&on), sizeof(on));
        vault->SetProperty(L"_RMAX", WMT_TYPE_DWORD, reinterpret_cast<BYTE*>(&rmax), sizeof(rmax));
        vault->SetProperty(L"_BMAX", WMT_TYPE_DWORD, reinterpret_cast<BYTE*>(&bmax), sizeof(bmax));
        ReleaseInto(&vault);
      }
    }
    bool ok = false;
    IWMMediaProps* props = nullptr;
    if (SUCCEEDED(config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props)))) {
      std::vector<uint8_t> format = s.type.format;
      WM_MEDIA_TYPE type;
      std::memset(&type, 0, sizeof(type));
      type.majortype = ToGuid(s.type.header.major_type);
      type.subtype = ToGuid(s.type.header.subtype);
      type.bFixedSizeSamples = s.type.header.fixed_size_samples != 0;
      type.bTemporalCompression = s.type.header.temporal_compression != 0;
      type.lSampleSize = s.type.header.sample_size;
      type.formattype = ToGuid(s.type.header.format_type);
      type.cbFormat = static_cast<ULONG>(format.size());
      type.pbFormat = format.data();
      ok = SUCCEEDED(props->SetMediaType(&type));
      ReleaseInto(&props);
    }
    if (ok) ok = SUCCEEDED(profile_->AddStream(config));
    ReleaseInto(&config);
    return ok;
  }

  void ReleaseProfile() override { ReleaseInto(&profile_); }

  bool SetProfile() override {
    return profile_ != nullptr &&
           Check(writer_->SetProfile(profile_), "The Windows Media writer refused the profile");
  }

  bool SetInputsUncompressedNone() override {
    DWORD inputs = 0;
    if (!Check(writer_->GetInputCount(&inputs), "The Windows Media writer has no inputs")) {
      return false;
    }
    for (DWORD i = 0; i < inputs; ++i) {
      if (!Check(writer_->SetInputProps(i, nullptr), "An input of the Windows Media writer")) {
        return false;
      }
    }
    return true;
  }

  bool SetOutputFilename(const std::u16string& path) override {
    return Check(writer_->SetOutputFilename(Wide(path)),
                 "The Windows Media writer refused the file name");
  }

  void AddCodecInfo(const std::u16string& name, const std::u16string& description, uint16_t type,
                    const std::vector<uint8_t>& info) override {
    std::vector<uint8_t> copy = info;
    header_->AddCodecInfo(const_cast<WCHAR*>(Wide(name)), const_cast<WCHAR*>(Wide(description)),
                                  static_cast<WMT_CODEC_INFO_TYPE>(type), static_cast<WORD>(copy.size()),
                                  copy.empty() ? nullptr : copy.data());
  }

  void AddStringAttribute(uint16_t stream, const std::u16string& name, const std::u16string& value) override {
    WORD index = 0;
    header_->AddAttribute(stream, Wide(name), &index, WMT_TYPE_STRING, 0,
                                  reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>(value.size() * 2));
  }

  bool BeginWriting() override {
    return Check(writer_->BeginWriting(), "The Windows Media writer could not begin the file");
  }
  bool EndWriting() override {
    return Check(writer_->EndWriting(), "The Windows Media writer could not finish the file");
  }

  std::unique_ptr<WmSample> AllocateSample(uint32_t size) override {
    INSSBuffer* buffer = nullptr;
    if (FAILED(writer_->AllocateSample(size, &buffer)) || buffer == nullptr) return nullptr;
    return std::make_unique<BufferSample>(buffer);
  }

  bool WriteStreamSample(uint16_t number, uint64_t sample_time, uint32_t send_time, uint64_t duration,
                         uint32_t flags, WmSample* sample) override {
    auto* s = static_cast<BufferSample*>(sample);
    return Check(advanced_->WriteStreamSample(number, sample_time, send_time, duration, flags,
                                                      s->Buffer()),
                 "The Windows Media writer could not write a sample");
  }

  std::string Error() const override { return error_; }

 private:
  bool Check(HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return true;
    if (error_.empty()) error_ = HresultText(what, hr);
    return false;
  }

  platform::DynamicLibrary library_;
  IWMProfileManager* manager_ = nullptr;
  IWMWriter* writer_ = nullptr;
  IWMWriterAdvanced* advanced_ = nullptr;
  IWMHeaderInfo3* header_ = nullptr;
  IWMProfile* profile_ = nullptr;
  std::string error_;
};

class WmvcoreFactory : public WmRuntimeFactory {
 public:
  WmvcoreFactory(WmCreateWriterFn create_writer, WmCreateProfileManagerFn create_manager)
      : create_writer_(create_writer), create_manager_(create_manager) {}
  std::unique_ptr<WmRuntime> CreateWriter(std::string* error) override {
    auto runtime = std::make_unique<WmvcoreRuntime>();
    const bool ok = create_writer_ != nullptr ? runtime->Create(create_writer_, create_manager_, error)
                                              : runtime->Load(error);
    if (!ok) return nullptr;
    return runtime;
  }

 private:
  WmCreateWriterFn create_writer_;
  WmCreateProfileManagerFn create_manager_;
};

}  // namespace

std::unique_ptr<WmRuntimeFactory> MakeWmvcoreFactory(WmCreateWriterFn create_writer,
                                                     WmCreateProfileManagerFn create_profile_manager) {
  return std::make_unique<WmvcoreFactory>(create_writer, create_profile_manager);
}

std::unique_ptr<WmRuntimeFactory> MakeSystemWmRuntimeFactory() { return MakeWmvcoreFactory(nullptr, nullptr); }

}  // namespace kmr
