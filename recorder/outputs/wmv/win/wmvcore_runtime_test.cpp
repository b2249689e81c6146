// The Windows Media writer over the runtime's interfaces: objects of the
// test's own stand in for wmvcore.dll's (Wine's runtime has no writer) and
// record every call, so the profile, the media types, the header entries and
// the samples are checked as the runtime receives them.
#include "recorder/outputs/wmv/win/wmvcore_runtime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "recorder/outputs/testing/fake_sources.h"
#include "recorder/outputs/wmv/wmv_writer.h"

namespace kmr {
namespace {

std::vector<std::string> g_calls;

std::string Narrow(const WCHAR* w, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char>(w[i]));
  return out;
}
std::string Narrow(const WCHAR* w) { return w == nullptr ? "(null)" : Narrow(w, wcslen(w)); }

template <typename... Bases>
class ComObject : public Bases... {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  virtual ~ComObject() = default;

 protected:
  ULONG refs_ = 1;
};

#define NOT_USED(...) \
  { return E_NOTIMPL; }

class Buffer : public ComObject<INSSBuffer> {
 public:
  explicit Buffer(DWORD size) : bytes(size) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  HRESULT STDMETHODCALLTYPE GetLength(DWORD* n) override { return *n = length, S_OK; }
  HRESULT STDMETHODCALLTYPE SetLength(DWORD n) override {
    if (n > bytes.size()) return E_INVALIDARG;
    length = n;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* n) override { return *n = static_cast<DWORD>(bytes.size()), S_OK; }
  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** p) override { return *p = bytes.data(), S_OK; }
  HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** p, DWORD* n) override {
    *p = bytes.data();
    *n = length;
    return S_OK;
  }
  std::vector<BYTE> bytes;
  DWORD length = 0;
};

struct MediaTypeSeen {
  GUID major, subtype, format_type;
  BOOL fixed, temporal;
  ULONG sample_size;
  std::vector<BYTE> format;
};

class StreamConfig : public ComObject<IWMStreamConfig, IWMMediaProps, IWMPropertyVault> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IWMMediaProps)) {
      *out = static_cast<IWMMediaProps*>(this);
    } else if (IsEqualIID(iid, IID_IWMPropertyVault)) {
      *out = static_cast<IWMPropertyVault*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  // IWMStreamConfig
  HRESULT STDMETHODCALLTYPE GetStreamType(GUID*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD n) override {
    number = n;
    g_calls.push_back("stream-number " + std::to_string(n));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamName(WCHAR*, WORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetStreamName(LPCWSTR_WMSDK_TYPE_SAFE) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR*, WORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetConnectionName(LPCWSTR_WMSDK_TYPE_SAFE) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetBitrate(DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetBitrate(DWORD b) override {
    g_calls.push_back("bitrate " + std::to_string(b));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD ms) override {
    g_calls.push_back("buffer-window " + std::to_string(ms));
    return S_OK;
  }
  // IWMMediaProps
  HRESULT STDMETHODCALLTYPE GetType(GUID*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE*, DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* t) override {
    g_calls.push_back("media-type");
    type = MediaTypeSeen{t->majortype, t->subtype, t->formattype, t->bFixedSizeSamples, t->bTemporalCompression,
                         t->lSampleSize, std::vector<BYTE>(t->pbFormat, t->pbFormat + t->cbFormat)};
    return refuse_type ? E_INVALIDARG : S_OK;
  }
  // IWMPropertyVault
  HRESULT STDMETHODCALLTYPE GetPropertyCount(DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetPropertyByName(const WCHAR*, WMT_ATTR_DATATYPE*, BYTE*, DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetProperty(const WCHAR* name, WMT_ATTR_DATATYPE type, BYTE* value, DWORD size) override {
    DWORD v = 0;
    std::memcpy(&v, value, size < 4 ? size : 4);
    g_calls.push_back("property " + Narrow(name) + " type " + std::to_string(type) + " size " +
                      std::to_string(size) + " = " + std::to_string(v));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyByIndex(DWORD, WCHAR*, DWORD*, WMT_ATTR_DATATYPE*, BYTE*, DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE CopyPropertiesFrom(IWMPropertyVault*) NOT_USED()
  HRESULT STDMETHODCALLTYPE Clear() NOT_USED()

  MediaTypeSeen type{};
  bool refuse_type = false;
  WORD number = 0;
};

std::vector<StreamConfig*> g_configs;
std::vector<WORD> g_profile_numbers;  // the streams the profile holds
bool g_refuse_audio_type = false;
HRESULT g_end_result = S_OK;  // what EndWriting answers

class Profile : public ComObject<IWMProfile> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetName(WCHAR*, DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetName(const WCHAR*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetDescription(WCHAR*, DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetDescription(const WCHAR*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetStream(DWORD, IWMStreamConfig**) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD, IWMStreamConfig**) NOT_USED()
  HRESULT STDMETHODCALLTYPE RemoveStream(IWMStreamConfig*) NOT_USED()
  HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD) NOT_USED()
  HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* config) override {
    g_calls.push_back("add-stream");
    g_profile_numbers.push_back(static_cast<StreamConfig*>(config)->number);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReconfigStream(IWMStreamConfig*) NOT_USED()
  HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID type, IWMStreamConfig** out) override {
    const bool video = IsEqualGUID(type, WMMEDIATYPE_Video);
    g_calls.push_back(std::string("new-stream ") + (video ? "video" : IsEqualGUID(type, WMMEDIATYPE_Audio) ? "audio"
                                                                                                          : "other"));
    auto* config = new StreamConfig;
    config->refuse_type = !video && g_refuse_audio_type;
    config->AddRef();  // the test keeps one
    g_configs.push_back(config);
    *out = config;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMutualExclusionCount(DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetMutualExclusion(DWORD, IWMMutualExclusion**) NOT_USED()
  HRESULT STDMETHODCALLTYPE RemoveMutualExclusion(IWMMutualExclusion*) NOT_USED()
  HRESULT STDMETHODCALLTYPE AddMutualExclusion(IWMMutualExclusion*) NOT_USED()
  HRESULT STDMETHODCALLTYPE CreateNewMutualExclusion(IWMMutualExclusion**) NOT_USED()
};

class ProfileManager : public ComObject<IWMProfileManager> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION version, IWMProfile** out) override {
    g_calls.push_back("empty-profile " + std::to_string(version));
    *out = new Profile;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE LoadProfileByID(REFGUID, IWMProfile**) NOT_USED()
  HRESULT STDMETHODCALLTYPE LoadProfileByData(const WCHAR*, IWMProfile**) NOT_USED()
  HRESULT STDMETHODCALLTYPE SaveProfile(IWMProfile*, WCHAR*, DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetSystemProfileCount(DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE LoadSystemProfile(DWORD, IWMProfile**) NOT_USED()
};

struct SampleSeen {
  WORD stream;
  QWORD time, duration;
  DWORD send_time, flags;
  std::vector<BYTE> data;
};
std::vector<SampleSeen> g_samples;

class Writer : public ComObject<IWMWriter, IWMWriterAdvanced, IWMHeaderInfo3> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IWMWriterAdvanced)) {
      *out = static_cast<IWMWriterAdvanced*>(this);
    } else if (IsEqualIID(iid, IID_IWMHeaderInfo3)) {
      *out = static_cast<IWMHeaderInfo3*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  // IWMWriter
  HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile*) override {
    g_calls.push_back("set-profile");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* name) override {
    g_calls.push_back("output " + Narrow(name));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* n) override {
    g_calls.push_back("input-count");
    *n = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetInputProps(DWORD, IWMInputMediaProps**) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetInputProps(DWORD n, IWMInputMediaProps* props) override {
    g_calls.push_back("input-props " + std::to_string(n) + (props == nullptr ? " none" : " some"));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD, DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD, DWORD, IWMInputMediaProps**) NOT_USED()
  HRESULT STDMETHODCALLTYPE BeginWriting() override {
    g_calls.push_back("begin");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EndWriting() override {
    g_calls.push_back("end");
    return g_end_result;
  }
  HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** out) override {
    *out = new Buffer(size);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE WriteSample(DWORD, QWORD, DWORD, INSSBuffer*) NOT_USED()
  HRESULT STDMETHODCALLTYPE Flush() NOT_USED()
  // IWMWriterAdvanced
  HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetSink(DWORD, IWMWriterSink**) NOT_USED()
  HRESULT STDMETHODCALLTYPE AddSink(IWMWriterSink*) NOT_USED()
  HRESULT STDMETHODCALLTYPE RemoveSink(IWMWriterSink*) NOT_USED()
  HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD stream, QWORD time, DWORD send, QWORD duration, DWORD flags,
                                              INSSBuffer* sample) override {
    bool known = false;
    for (WORD n : g_profile_numbers) known = known || n == stream;
    if (!known) return E_INVALIDARG;
    BYTE* data = nullptr;
    DWORD length = 0;
    sample->GetBufferAndLength(&data, &length);
    g_samples.push_back({stream, time, duration, send, flags, std::vector<BYTE>(data, data + length)});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetLiveSource(WINBOOL) NOT_USED()
  HRESULT STDMETHODCALLTYPE IsRealTime(WINBOOL*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetWriterTime(QWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetStatistics(WORD, WM_WRITER_STATISTICS*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD*) NOT_USED()
  // IWMHeaderInfo
  HRESULT STDMETHODCALLTYPE GetAttributeCount(WORD, WORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetAttributeByIndex(WORD, WORD*, WCHAR*, WORD*, WMT_ATTR_DATATYPE*, BYTE*, WORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD*, LPCWSTR, WMT_ATTR_DATATYPE*, BYTE*, WORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE SetAttribute(WORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE*, WORD) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetMarkerCount(WORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetMarker(WORD, WCHAR*, WORD*, QWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE AddMarker(LPCWSTR_WMSDK_TYPE_SAFE, QWORD) NOT_USED()
  HRESULT STDMETHODCALLTYPE RemoveMarker(WORD) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetScriptCount(WORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetScript(WORD, WCHAR*, WORD*, WCHAR*, WORD*, QWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE AddScript(LPCWSTR_WMSDK_TYPE_SAFE, LPCWSTR_WMSDK_TYPE_SAFE, QWORD) NOT_USED()
  HRESULT STDMETHODCALLTYPE RemoveScript(WORD) NOT_USED()
  // IWMHeaderInfo2
  HRESULT STDMETHODCALLTYPE GetCodecInfoCount(DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetCodecInfo(DWORD, WORD*, WCHAR*, WORD*, WCHAR*, WMT_CODEC_INFO_TYPE*, WORD*,
                                         BYTE*) NOT_USED()
  // IWMHeaderInfo3
  HRESULT STDMETHODCALLTYPE GetAttributeCountEx(WORD, WORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetAttributeIndices(WORD, LPCWSTR, WORD*, WORD*, WORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE GetAttributeByIndexEx(WORD, WORD, LPWSTR, WORD*, WMT_ATTR_DATATYPE*, WORD*, BYTE*,
                                                  DWORD*) NOT_USED()
  HRESULT STDMETHODCALLTYPE ModifyAttribute(WORD, WORD, WMT_ATTR_DATATYPE, WORD, const BYTE*, DWORD) NOT_USED()
  HRESULT STDMETHODCALLTYPE AddAttribute(WORD stream, LPCWSTR name, WORD*, WMT_ATTR_DATATYPE type, WORD language,
                                         const BYTE* value, DWORD length) override {
    g_calls.push_back("attribute " + std::to_string(stream) + " " + Narrow(name) + " type " + std::to_string(type) +
                      " language " + std::to_string(language) + " length " + std::to_string(length) + " = " +
                      Narrow(reinterpret_cast<const WCHAR*>(value), length / 2));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DeleteAttribute(WORD, WORD) NOT_USED()
  HRESULT STDMETHODCALLTYPE AddCodecInfo(LPCWSTR_WMSDK_TYPE_SAFE name, LPCWSTR_WMSDK_TYPE_SAFE description,
                                         WMT_CODEC_INFO_TYPE type, WORD count, BYTE* info) override {
    std::string bytes;
    for (WORD i = 0; i < count; ++i) bytes += " " + std::to_string(info[i]);
    g_calls.push_back("codec-info " + Narrow(name) + " | " + Narrow(description) + " | " + std::to_string(type) +
                      " |" + bytes);
    return S_OK;
  }
};

HRESULT WINAPI CreateFakeWriter(IUnknown*, IWMWriter** out) {
  *out = new Writer;
  return S_OK;
}
HRESULT WINAPI CreateFakeManager(IWMProfileManager** out) {
  *out = new ProfileManager;
  return S_OK;
}

class WmvcoreRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    g_samples.clear();
    g_profile_numbers.clear();
    for (StreamConfig* c : g_configs) c->Release();
    g_configs.clear();
    g_refuse_audio_type = false;
    g_end_result = S_OK;
  }
  // Video (lossless, 640 × 480 at 15 fps) and, with sound, the MP3 stream.
  void Record(bool sound) {
    WmvWriter writer(MakeWmvcoreFactory(CreateFakeWriter, CreateFakeManager));
    ASSERT_TRUE(writer.Initialize());
    writer.SetPath("C:\\videos\\clip.wmv");
    writer.SetTitle("Demo");
    writer.SetAuthor("");
    writer.SetCopyright("");
    writer.SetDescription("");
    testing::FakeVideoSource source(640, 480, 32, 15);
    testing::FakeAudioSource audio_source;
    WmvVideoStream video;
    WmvAudioStream audio;
    ASSERT_TRUE(video.Attach(FormatOf(source)));
    video.SetWriter(&writer);
    writer.AddStream(&video);
    if (sound) {
      ASSERT_TRUE(audio.Attach(FormatOf(audio_source)));
      audio.SetWriter(&writer);
      writer.AddStream(&audio);
    }
    ASSERT_TRUE(writer.Open()) << writer.Error();
    source.SetFrame({7, 8, 9}, true);
    ASSERT_TRUE(video.Put(EncodedFrame(source, 0, 66, 0)));
    if (sound) {
      const uint8_t mp3[2] = {0xFF, 0xF3};
      ASSERT_TRUE(audio.Put({mp3, 2, 26, 26}));
    }
    closed_ = writer.Close();
  }
  bool closed_ = false;
};

TEST_F(WmvcoreRuntimeTest, AVideoOnlyRecordingAsTheRuntimeSeesIt) {
  Record(false);
  EXPECT_TRUE(closed_);
  const std::vector<std::string> expected = {
      "empty-profile 589824",  // 0x90000
      "new-stream video",
      "stream-number 1",
      "bitrate 0",
      "buffer-window 3000",
      "property _VBRENABLED type 3 size 4 = 1",
      "property _RMAX type 0 size 4 = 0",
      "property _BMAX type 0 size 4 = 0",
      "media-type",
      "add-stream",
      "set-profile",
      "input-count",
      "input-props 0 none",
      "input-props 1 none",
      "output C:\\videos\\clip.wmv",
      "codec-info Norvane Screen Video (Lossless) | https://norvane.example/kelvo | 1 | 75 77 82 86",
      "attribute 0 Title type 1 language 0 length 8 = Demo",
      "attribute 0 Author type 1 language 0 length 0 = ",
      "attribute 0 Copyright type 1 language 0 length 0 = ",
      "attribute 0 Description type 1 language 0 length 0 = ",
      "begin",
      "end",
  };
  EXPECT_EQ(g_calls, expected);
  ASSERT_EQ(g_configs.size(), 1u);
  const MediaTypeSeen& t = g_configs[0]->type;
  EXPECT_TRUE(IsEqualGUID(t.major, WMMEDIATYPE_Video));
  EXPECT_EQ(t.subtype.Data1, 0x56524D4Bu);  // "KMRV"
  EXPECT_TRUE(t.format_type.Data1 == 0x05589F80u);
  EXPECT_FALSE(t.fixed);
  EXPECT_TRUE(t.temporal);
  EXPECT_EQ(t.sample_size, 0u);
  ASSERT_EQ(t.format.size(), 88u);
  EXPECT_EQ(t.format[48], 40);  // the bitmap info header's size
  ASSERT_EQ(g_samples.size(), 1u);
  EXPECT_EQ(g_samples[0].stream, 1);
  EXPECT_EQ(g_samples[0].time, 0u);
  EXPECT_EQ(g_samples[0].duration, 66u * 10000u);
  EXPECT_EQ(g_samples[0].flags, 1u);  // a clean point
  EXPECT_EQ(g_samples[0].data, (std::vector<BYTE>{7, 8, 9}));
}

TEST_F(WmvcoreRuntimeTest, SoundIsTheSecondStreamWithItsOwnCodecEntry) {
  Record(true);
  EXPECT_TRUE(closed_);
  ASSERT_EQ(g_configs.size(), 2u);
  EXPECT_TRUE(IsEqualGUID(g_configs[1]->type.major, WMMEDIATYPE_Audio));
  EXPECT_EQ(g_configs[1]->type.subtype.Data1, 0x55u);
  EXPECT_TRUE(g_configs[1]->type.format_type.Data1 == 0x05589F81u);
  EXPECT_EQ(g_configs[1]->type.format.size(), 30u);
  const auto has = [](const std::string& call) {
    for (const std::string& c : g_calls) {
      if (c == call) return true;
    }
    return false;
  };
  EXPECT_TRUE(has("new-stream audio"));
  EXPECT_TRUE(has("stream-number 2"));
  EXPECT_TRUE(has("codec-info MPEG Audio Layer-3 |  | 0 | 85 0 0 0"));
  ASSERT_EQ(g_samples.size(), 2u);
  EXPECT_EQ(g_samples[1].stream, 2);
  EXPECT_EQ(g_samples[1].time, 26u * 10000u);
  EXPECT_EQ(g_samples[1].send_time, 26u);
  EXPECT_EQ(g_samples[1].flags, 0u);
}

TEST_F(WmvcoreRuntimeTest, AStreamTheRuntimeRefusesIsLeftOutOfTheProfile) {
  g_refuse_audio_type = true;
  Record(true);
  int added = 0;
  for (const std::string& c : g_calls) added += c == "add-stream";
  EXPECT_EQ(added, 1);
  EXPECT_FALSE(closed_) << "the sound's sample had no stream to go to";
}

// The runtime lives as long as the writer: each recording reports its own
// cause, not the first one the runtime ever met.
TEST_F(WmvcoreRuntimeTest, EachRecordingReportsItsOwnCause) {
  WmvWriter writer(MakeWmvcoreFactory(CreateFakeWriter, CreateFakeManager));
  ASSERT_TRUE(writer.Initialize());
  testing::FakeVideoSource source(64, 48, 32, 15);
  WmvVideoStream video;
  ASSERT_TRUE(video.Attach(FormatOf(source)));
  video.SetWriter(&writer);
  writer.AddStream(&video);
  writer.SetPath("C:\\videos\\one.wmv");
  const auto record = [&]() {
    if (!writer.Open()) return std::string("open: ") + writer.Error();
    source.SetFrame({7, 8, 9}, true);
    video.Put(EncodedFrame(source, 0, 66, 0));
    return writer.Close() ? std::string() : writer.Error();
  };
  g_end_result = E_OUTOFMEMORY;
  const std::string first = record();
  EXPECT_NE(first.find("0x8007000E"), std::string::npos) << first;
  g_end_result = S_OK;
  EXPECT_EQ(record(), "") << "a good recording after a failed one";
  g_end_result = E_ACCESSDENIED;
  const std::string third = record();
  EXPECT_NE(third.find("0x80070005"), std::string::npos) << third;
  EXPECT_EQ(third.find("0x8007000E"), std::string::npos) << "the first recording's cause: " << third;
}

TEST(WmvcoreRuntime, WithoutTheRuntimeOpenFailsWithTheReason) {
  // Wine's wmvcore has a writer without a header interface; elsewhere the
  // library may be missing altogether. Either way Open fails and says why.
  WmvWriter writer(MakeSystemWmRuntimeFactory());
  writer.Initialize();
  writer.SetPath("clip.wmv");
  testing::FakeVideoSource source(64, 48, 32, 15);
  WmvVideoStream video;
  ASSERT_TRUE(video.Attach(FormatOf(source)));
  writer.AddStream(&video);
  if (writer.Open()) {
    writer.Close();
    GTEST_SKIP() << "this system has a Windows Media writer";
  }
  EXPECT_FALSE(writer.Error().empty());
}

}  // namespace
}  // namespace kmr
