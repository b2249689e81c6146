// Installed compressors through the system's compressor manager (vfw32).
#include <windows.h>
#include <vfw.h>

#include <cstring>
#include <vector>

#include "recorder/codecs/installed/compressor_driver.h"

namespace kmr {

namespace {

// A bitmap info header with whatever follows it, as the manager takes it.
struct Format {
  explicit Format(const std::vector<uint8_t>& bytes) : data(bytes.size() < sizeof(BITMAPINFOHEADER) ? sizeof(BITMAPINFOHEADER) : bytes.size()) {
    std::memcpy(data.data(), bytes.data(), bytes.size());
  }
  BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(data.data()); }
  BITMAPINFOHEADER* Header() { return reinterpret_cast<BITMAPINFOHEADER*>(data.data()); }
  std::vector<uint8_t> data;
};

std::u16string Wide(const WCHAR* s, size_t max) {
  std::u16string out;
  for (size_t i = 0; i < max && s[i] != 0; ++i) out.push_back(static_cast<char16_t>(s[i]));
  return out;
}

class VfwCompressor : public CompressorDriver {
 public:
  explicit VfwCompressor(HIC hic) : hic_(hic) {}
  ~VfwCompressor() override { ICClose(hic_); }

  bool GetInfo(CompressorInfo* info) override {
    ICINFO ic;
    std::memset(&ic, 0, sizeof(ic));
    ic.dwSize = sizeof(ic);
    if (ICGetInfo(hic_, &ic, sizeof(ic)) == 0) return false;
    info->type = ic.fccType;
    info->handler = ic.fccHandler;
    info->flags = ic.dwFlags;
    info->version = ic.dwVersion;
    info->name = Wide(ic.szName, 16);
    info->description = Wide(ic.szDescription, 128);
    info->driver = Wide(ic.szDriver, 128);
    return true;
  }
  bool CompressQuery(const std::vector<uint8_t>& in) override {
    Format f(in);
    return ICCompressQuery(hic_, f.Info(), nullptr) == ICERR_OK;
  }
  int32_t StateSize() override { return static_cast<int32_t>(ICGetStateSize(hic_)); }
  bool GetState(std::vector<uint8_t>* state) override {
    const LRESULT n = ICGetStateSize(hic_);
    state->assign(n > 0 ? static_cast<size_t>(n) : 0, 0);
    if (state->empty()) return true;
    return ICGetState(hic_, state->data(), static_cast<DWORD>(state->size())) >= 0;
  }
  bool SetState(const std::vector<uint8_t>& state) override {
    std::vector<uint8_t> copy = state;
    return ICSetState(hic_, copy.data(), static_cast<DWORD>(copy.size())) >= 0;
  }
  bool GetOutputFormat(const std::vector<uint8_t>& in, std::vector<uint8_t>* out) override {
    Format f(in);
    const LRESULT n = ICCompressGetFormatSize(hic_, f.Info());
    if (n <= 0 || n > (1 << 20)) return false;
    out->assign(static_cast<size_t>(n), 0);
    return ICCompressGetFormat(hic_, f.Info(), reinterpret_cast<BITMAPINFO*>(out->data())) == ICERR_OK;
  }
  uint32_t MaxCompressedSize(const std::vector<uint8_t>& in, const std::vector<uint8_t>& out) override {
    Format a(in), b(out);
    const LRESULT n = ICCompressGetSize(hic_, a.Info(), b.Info());
    return n > 0 ? static_cast<uint32_t>(n) : 0;
  }
  int32_t DefaultKeyFrameRate() override {
    DWORD rate = 0;
    ICSendMessage(hic_, ICM_GETDEFAULTKEYFRAMERATE, reinterpret_cast<DWORD_PTR>(&rate), 0);
    return static_cast<int32_t>(rate);
  }
  int32_t DefaultQuality() override {
    DWORD quality = 0;
    ICSendMessage(hic_, ICM_GETDEFAULTQUALITY, reinterpret_cast<DWORD_PTR>(&quality), 0);
    return static_cast<int32_t>(quality);
  }
  void SendFramesInfo(const FramesInfo& info) override {
    ICCOMPRESSFRAMES f;
    std::memset(&f, 0, sizeof(f));
    f.dwFlags = info.flags;
    f.lStartFrame = static_cast<LONG>(info.start_frame);
    f.lFrameCount = static_cast<LONG>(info.frame_count);
    f.lQuality = static_cast<LONG>(info.quality);
    f.lDataRate = static_cast<LONG>(info.data_rate);
    f.lKeyRate = static_cast<LONG>(info.key_rate);
    f.dwRate = info.rate;
    f.dwScale = info.scale;
    ICSendMessage(hic_, ICM_COMPRESS_FRAMES_INFO, reinterpret_cast<DWORD_PTR>(&f), sizeof(f));
  }
  bool CompressBegin(const std::vector<uint8_t>& in, const std::vector<uint8_t>& out) override {
    in_ = std::make_unique<Format>(in);
    out_ = std::make_unique<Format>(out);
    return ICCompressBegin(hic_, in_->Info(), out_->Info()) == ICERR_OK;
  }
  void CompressEnd() override { ICCompressEnd(hic_); }
  bool DecompressBegin(const std::vector<uint8_t>& in, const std::vector<uint8_t>& out) override {
    dec_in_ = std::make_unique<Format>(in);
    dec_out_ = std::make_unique<Format>(out);
    return ICDecompressBegin(hic_, dec_in_->Info(), dec_out_->Info()) == ICERR_OK;
  }
  void DecompressEnd() override { ICDecompressEnd(hic_); }
  bool Compress(CompressCall* call) override {
    Format in(*call->in_format), out(*call->out_format);
    std::unique_ptr<Format> prev;
    if (call->prev_format != nullptr) prev = std::make_unique<Format>(*call->prev_format);
    DWORD flags = call->out_flags, chunk = 0;
    const DWORD r = ICCompress(hic_, call->flags, out.Header(), call->out, in.Header(), const_cast<uint8_t*>(call->in),
                               &chunk, &flags, static_cast<LONG>(call->frame), call->size_limit, call->quality,
                               prev != nullptr ? prev->Header() : nullptr,
                               prev != nullptr ? const_cast<uint8_t*>(call->prev) : nullptr);
    if (r != ICERR_OK) return false;
    std::memcpy(call->out_format->data(), out.data.data(), std::min(call->out_format->size(), out.data.size()));
    call->out_flags = flags;
    return true;
  }
  bool Decompress(uint32_t flags, const std::vector<uint8_t>& in_format, const uint8_t* data,
                  const std::vector<uint8_t>& out_format, uint8_t* out) override {
    Format in(in_format), o(out_format);
    return ICDecompress(hic_, flags, in.Header(), const_cast<uint8_t*>(data), o.Header(), out) == ICERR_OK;
  }
  bool HasConfigureDialog() override { return ICQueryConfigure(hic_); }
  bool ShowConfigureDialog(void* owner) override {
    return ICConfigure(hic_, static_cast<HWND>(owner)) == ICERR_OK;
  }

 private:
  HIC hic_;
  std::unique_ptr<Format> in_, out_, dec_in_, dec_out_;
};

class VfwCompressorManager : public CompressorManager {
 public:
  // XviD would show its status window while recording.
  void PrepareListing() override {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\GNU\\XviD", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
      const DWORD zero = 0;
      RegSetValueExA(key, "display_status", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
      RegCloseKey(key);
    }
  }
  bool Info(uint32_t type, uint32_t index, CompressorInfo* info) override {
    ICINFO ic;
    std::memset(&ic, 0, sizeof(ic));
    ic.dwSize = sizeof(ic);
    if (!ICInfo(type, index, &ic)) return false;
    info->type = ic.fccType;
    info->handler = ic.fccHandler;
    return true;
  }
  std::unique_ptr<CompressorDriver> Open(uint32_t type, uint32_t handler) override {
    HIC hic = ICOpen(type, handler, ICMODE_COMPRESS);
    if (hic == nullptr) return nullptr;
    return std::make_unique<VfwCompressor>(hic);
  }
};

}  // namespace

std::unique_ptr<CompressorManager> MakeSystemCompressorManager() { return std::make_unique<VfwCompressorManager>(); }

}  // namespace kmr
