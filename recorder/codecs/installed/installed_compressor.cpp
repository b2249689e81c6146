#include "recorder/codecs/installed/installed_compressor.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "shared/byte_io.h"
#include "shared/text/utf16.h"

namespace kmr {

namespace {

constexpr size_t kImageSizeAt = 20;    // biSizeImage
constexpr size_t kCompressionAt = 16;  // biCompression

bool IsXvidCode(uint32_t code) {
  return code == FourCc('X', 'V', 'I', 'D') || code == FourCc('x', 'v', 'i', 'd') || code == FourCc('D', 'X', '5', '0') ||
         code == FourCc('d', 'x', '5', '0');
}

template <typename T>
bool Allocate(std::vector<T>* v, size_t n) {
  try {
    v->assign(n, T{});
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

std::string NarrowName(const std::u16string& text) { return Utf16ToUtf8(text); }

InstalledCompressor::InstalledCompressor(std::unique_ptr<CompressorManager> manager) : manager_(std::move(manager)) {}

InstalledCompressor::~InstalledCompressor() {
  End();
  driver_.reset();
}

std::vector<uint8_t> InstalledCompressor::ListingFormat() {
  std::vector<uint8_t> h;
  ByteWriter w(&h);
  w.U32(40);
  w.I32(640);
  w.I32(480);
  w.U16(1);
  w.U16(32);
  w.U32(0);
  w.U32(1228800);
  w.Zeros(16);
  return h;
}

bool InstalledCompressor::SetInputFormat(const std::vector<uint8_t>& header) {
  if (header.size() < kBitmapInfoHeaderSize) return false;
  input_format_.assign(header.begin(), header.begin() + kBitmapInfoHeaderSize);
  return true;
}

bool InstalledCompressor::List(std::vector<std::string>* names) {
  names->clear();
  if (input_format_.empty() || manager_ == nullptr) return false;
  manager_->PrepareListing();
  // The selected entry is kept by its handler code.
  const uint32_t selected_handler = selected_ >= 0 ? current_.info.handler : 0;
  entries_.clear();
  CompressorInfo listed;
  for (uint32_t i = 0; manager_->Info(kCompressorTypeVideo, i, &listed); ++i) {
    std::unique_ptr<CompressorDriver> driver = manager_->Open(kCompressorTypeVideo, listed.handler);
    if (driver == nullptr) continue;
    CompressorInfo info;
    if (!driver->GetInfo(&info) || info.type != kCompressorTypeVideo) continue;
    if (Find(info.handler) >= 0) continue;
    if (!driver->CompressQuery(input_format_)) continue;
    entries_.push_back(Entry{info, {}});
    names->push_back(NarrowName(info.description));
  }
  if (selected_ >= 0) selected_ = Find(selected_handler);
  return true;
}

int InstalledCompressor::Find(uint32_t handler) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].info.handler == handler) return static_cast<int>(i);
  }
  return -1;
}

bool InstalledCompressor::Select(int index) {
  End();
  driver_.reset();
  selected_ = -1;
  if (index < 0 || static_cast<size_t>(index) >= entries_.size() || manager_ == nullptr) return false;
  current_ = entries_[static_cast<size_t>(index)];
  driver_ = manager_->Open(kCompressorTypeVideo, current_.info.handler);
  if (driver_ == nullptr) return false;
  selected_ = index;
  return true;
}

bool InstalledCompressor::HasConfigureDialog() { return driver_ != nullptr && driver_->HasConfigureDialog(); }

bool InstalledCompressor::ShowConfigureDialog(void* owner) {
  return driver_ != nullptr && driver_->ShowConfigureDialog(owner);
}

uint32_t InstalledCompressor::GetKeyFrameRate() {
  const int32_t reported = driver_ != nullptr ? driver_->DefaultKeyFrameRate() : 0;
  if (reported > 0) return static_cast<uint32_t>(reported);
  const uint32_t scale = scale_ == 0 ? 1 : scale_;
  return std::max<uint32_t>(10 * rate_ / scale, 1);
}

uint32_t InstalledCompressor::GetQuality() {
  const int32_t reported = driver_ != nullptr ? driver_->DefaultQuality() : 0;
  return reported > 0 ? static_cast<uint32_t>(reported) : kDefaultQuality;
}

uint32_t InstalledCompressor::GetDataRate() const {
  if (data_rate_ != 0) return data_rate_;
  if (input_format_.empty()) return kDefaultDataRate;
  const auto width = static_cast<int64_t>(static_cast<int32_t>(LeAt(input_format_, 4)));
  const auto height = static_cast<int64_t>(static_cast<int32_t>(LeAt(input_format_, 8)));
  const int64_t bits = input_format_[14] | (input_format_[15] << 8);
  const uint64_t per_frame = static_cast<uint64_t>(std::llabs(width * height * bits));
  const uint64_t rate = per_frame * rate_ / (scale_ == 0 ? 1 : scale_);
  return rate > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(rate);
}

void InstalledCompressor::PassSlots(uint32_t slots) {
  if (!started_) return;
  key_countdown_ = key_countdown_ > slots ? key_countdown_ - slots : 1;
}

void InstalledCompressor::FreeBuffers() {
  output_format_.clear();
  compressed_.clear();
  previous_.clear();
  saved_state_.clear();
  last_size_ = 0;
}

bool InstalledCompressor::Begin() {
  End();
  if (driver_ == nullptr || input_format_.empty()) return false;
  const auto fail = [&]() {
    FreeBuffers();
    return false;
  };
  // The compressor's configuration as it stands, kept with the entry and
  // given back.
  if (driver_->StateSize() > 0) {
    std::vector<uint8_t> state;
    if (driver_->GetState(&state)) current_.state = state;
    if (selected_ >= 0) entries_[static_cast<size_t>(selected_)].state = current_.state;
    if (!current_.state.empty()) driver_->SetState(current_.state);
  }
  if (!driver_->CompressQuery(input_format_)) return fail();
  if (!driver_->GetOutputFormat(input_format_, &output_format_) || output_format_.size() < kBitmapInfoHeaderSize) {
    return fail();
  }
  const uint32_t flags = current_.info.flags;
  if ((flags & kCompressorTemporal) != 0 && (flags & kCompressorFastTemporal) == 0) {
    if (!Allocate(&previous_, LeAt(input_format_, kImageSizeAt))) return fail();
  }
  const uint32_t max_size = driver_->MaxCompressedSize(input_format_, output_format_);
  if (max_size == 0 || !Allocate(&compressed_, max_size)) return fail();
  if (driver_->StateSize() > 0 && driver_->GetState(&saved_state_) && !saved_state_.empty()) {
    driver_->SetState(saved_state_);
  }
  const uint32_t scale = scale_ == 0 ? 1 : scale_;
  const uint64_t us_per_frame = 1000000ull * scale / (rate_ == 0 ? 1 : rate_);
  const uint32_t data_rate = GetDataRate();
  max_bytes_ = data_rate != 0 && (flags & kCompressorCrunch) != 0
                   ? static_cast<uint32_t>(static_cast<uint64_t>(data_rate) * us_per_frame / 1000000)
                   : 0;
  FramesInfo info;
  info.start_frame = 0;
  info.frame_count = 0x0FFFFFFF;
  info.quality = GetQuality();
  info.data_rate = data_rate;
  info.key_rate = GetKeyFrameRate();
  info.rate = rate_;
  info.scale = scale;
  driver_->SendFramesInfo(info);
  if (!driver_->CompressBegin(input_format_, output_format_)) return fail();
  if (!previous_.empty() && !driver_->DecompressBegin(output_format_, input_format_)) {
    driver_->CompressEnd();
    return fail();
  }
  started_ = true;
  last_key_ = true;
  frame_number_ = 0;
  key_countdown_ = 1;
  normal_acc_ = key_acc_ = 0;
  return true;
}

bool InstalledCompressor::StartFrames(const std::vector<uint8_t>& input, uint32_t rate, uint32_t scale) {
  if (!SetInputFormat(input)) return false;
  SetRate(rate);
  SetScale(scale);
  SetDataRate(0);
  return Begin();
}

void InstalledCompressor::End() {
  if (!started_) return;
  if (!previous_.empty()) driver_->DecompressEnd();
  driver_->CompressEnd();
  if (!saved_state_.empty()) driver_->SetState(saved_state_);
  FreeBuffers();
  started_ = false;
}

bool InstalledCompressor::CompressFrame(const uint8_t* bits) {
  if (!started_ || bits == nullptr) return false;
  const uint32_t K = GetKeyFrameRate();
  const uint32_t countdown_before = key_countdown_;
  --key_countdown_;
  const bool key = key_countdown_ == 0;
  if (key) key_countdown_ = K;
  const int64_t M = max_bytes_;
  uint32_t target = 0;
  if (M > 0) {
    // A quarter of what earlier frames left over (or overran), floored.
    int64_t quarter = normal_acc_ >= 0 ? normal_acc_ / 4 : -((-normal_acc_ + 3) / 4);
    const int64_t t = std::max<int64_t>(M + quarter, M / 2);
    target = static_cast<uint32_t>(std::min<int64_t>(t, 0xFFFFFFFF));
  }
  const uint32_t image_size = LeAt(output_format_, kImageSizeAt);
  CompressCall call;
  call.flags = key ? kCompressKeyFrame : 0;
  call.out_format = &output_format_;
  call.out = compressed_.data();
  call.in_format = &input_format_;
  call.in = bits;
  call.out_flags = key ? kCompressedKeyFrame : 0;
  call.frame = frame_number_;
  call.size_limit = frame_number_ == 0 ? 0x00FFFFFF : target;
  call.quality = GetQuality();
  if (!key && !previous_.empty()) {
    call.prev_format = &input_format_;
    call.prev = previous_.data();
  }
  const bool ok = driver_->Compress(&call);
  const uint32_t size = std::min<uint32_t>(LeAt(output_format_, kImageSizeAt), static_cast<uint32_t>(compressed_.size()));
  PutLeAt(&output_format_, kImageSizeAt, image_size);
  if (!ok) return false;

  // XviD's one-byte placeholder: a frame it dropped, as if never offered.
  if (IsXvidCode(LeAt(output_format_, kCompressionAt)) && size == 1 && compressed_[0] == 0x7F) {
    key_countdown_ = countdown_before;
    last_size_ = 0;
    return true;
  }
  // The previous frame as the compressor will see it, unless a key frame
  // comes next anyway.
  if (!previous_.empty() && key_countdown_ >= 2) {
    const uint32_t flags = (call.out_flags & kCompressedKeyFrame) != 0 ? 0 : kDecompressNotKeyFrame;
    std::vector<uint8_t> coded = output_format_;
    PutLeAt(&coded, kImageSizeAt, size);
    if (!driver_->Decompress(flags, coded, compressed_.data(), input_format_, previous_.data())) return false;
  }
  ++frame_number_;
  last_size_ = size;
  if (M > 0) {
    // What this frame left over or overran; a key frame's share is spread
    // over the frames up to the next key frame (signed: an overrun spreads
    // as a debt, not as a huge surplus).
    const int64_t left = M - static_cast<int64_t>(size);
    if (key) {
      key_acc_ += left;
    } else {
      normal_acc_ += left;
    }
    const int64_t share = key_acc_ / static_cast<int64_t>(std::max<uint32_t>(key_countdown_, 1));
    key_acc_ -= share;
    normal_acc_ += share;
  }
  last_key_ = (call.out_flags & kCompressedKeyFrame) != 0;
  if (last_key_) key_countdown_ = K;
  return true;
}

}  // namespace kmr
