#include "recorder/codecs/installed/installed_compressor.h"
#include "recorder/codecs/compressing_stage.h"

#include <gtest/gtest.h>

#include <map>

#include "recorder/codecs/installed/codec_choices.h"

namespace kmr {
namespace {

// What a scripted compressor does and what it was asked.
struct Script {
  uint32_t handler = FourCc('T', 'E', 'S', 'T');
  uint32_t output_code = FourCc('T', 'E', 'S', 'T');
  uint32_t flags = kCompressorTemporal | kCompressorFastTemporal;
  bool opens = true;
  bool vidc = true;
  bool takes_input = true;
  int32_t key_rate = 0;
  int32_t quality = 0;
  std::vector<uint8_t> state;
  bool decompress_begins = true;
  // Compressed sizes by frame number (default 100), and the frames the
  // compressor turns into XviD's one-byte placeholder.
  std::map<uint32_t, uint32_t> sizes;
  uint32_t default_size = 100;
  std::vector<uint32_t> placeholders;
  // Seen.
  std::vector<uint32_t> compress_flags;
  std::vector<uint32_t> size_limits;
  std::vector<bool> had_previous;
  std::vector<uint32_t> decompressed_after;  // frame numbers
  std::vector<std::string> calls;
  FramesInfo frames_info;
};

class ScriptedDriver : public CompressorDriver {
 public:
  explicit ScriptedDriver(Script* s) : s_(s) {}
  bool GetInfo(CompressorInfo* info) override {
    info->type = s_->vidc ? kCompressorTypeVideo : FourCc('a', 'u', 'd', 'c');
    info->handler = s_->handler;
    info->flags = s_->flags;
    info->description = u"Scripted codec";
    return true;
  }
  bool CompressQuery(const std::vector<uint8_t>&) override { return s_->takes_input; }
  int32_t StateSize() override { return static_cast<int32_t>(s_->state.size()); }
  bool GetState(std::vector<uint8_t>* state) override {
    s_->calls.push_back("get-state");
    *state = s_->state;
    return true;
  }
  bool SetState(const std::vector<uint8_t>&) override {
    s_->calls.push_back("set-state");
    return true;
  }
  bool GetOutputFormat(const std::vector<uint8_t>& in, std::vector<uint8_t>* out) override {
    *out = in;
    for (int i = 0; i < 4; ++i) (*out)[16 + i] = static_cast<uint8_t>(s_->output_code >> (8 * i));
    return true;
  }
  uint32_t MaxCompressedSize(const std::vector<uint8_t>&, const std::vector<uint8_t>&) override { return 100000; }
  int32_t DefaultKeyFrameRate() override { return s_->key_rate; }
  int32_t DefaultQuality() override { return s_->quality; }
  void SendFramesInfo(const FramesInfo& info) override { s_->frames_info = info; }
  bool CompressBegin(const std::vector<uint8_t>&, const std::vector<uint8_t>&) override {
    s_->calls.push_back("compress-begin");
    return true;
  }
  void CompressEnd() override { s_->calls.push_back("compress-end"); }
  bool DecompressBegin(const std::vector<uint8_t>&, const std::vector<uint8_t>&) override {
    s_->calls.push_back("decompress-begin");
    return s_->decompress_begins;
  }
  void DecompressEnd() override { s_->calls.push_back("decompress-end"); }
  bool Compress(CompressCall* call) override {
    s_->compress_flags.push_back(call->flags);
    s_->size_limits.push_back(call->size_limit);
    s_->had_previous.push_back(call->prev != nullptr);
    uint32_t size = s_->sizes.count(call->frame) ? s_->sizes[call->frame] : s_->default_size;
    if (std::find(s_->placeholders.begin(), s_->placeholders.end(), s_->compress_flags.size() - 1) !=
        s_->placeholders.end()) {
      size = 1;
      call->out[0] = 0x7F;
    }
    for (int i = 0; i < 4; ++i) (*call->out_format)[20 + i] = static_cast<uint8_t>(size >> (8 * i));
    last_frame_ = call->frame;
    return true;
  }
  bool Decompress(uint32_t, const std::vector<uint8_t>&, const uint8_t*, const std::vector<uint8_t>&,
                  uint8_t*) override {
    s_->decompressed_after.push_back(last_frame_);
    return true;
  }
  bool HasConfigureDialog() override { return false; }
  bool ShowConfigureDialog(void*) override { return false; }

 private:
  Script* s_;
  uint32_t last_frame_ = 0;
};

class ScriptedManager : public CompressorManager {
 public:
  explicit ScriptedManager(std::vector<Script>* scripts) : scripts_(scripts) {}
  bool Info(uint32_t type, uint32_t index, CompressorInfo* info) override {
    if (type != kCompressorTypeVideo || index >= scripts_->size()) return false;
    info->handler = (*scripts_)[index].handler;
    return true;
  }
  std::unique_ptr<CompressorDriver> Open(uint32_t, uint32_t handler) override {
    for (Script& s : *scripts_) {
      if (s.handler == handler) return s.opens ? std::make_unique<ScriptedDriver>(&s) : nullptr;
    }
    return nullptr;
  }

 private:
  std::vector<Script>* scripts_;
};

// 320 × 240 at 32 bits, bottom-up.
std::vector<uint8_t> Input() {
  std::vector<uint8_t> h = InstalledCompressor::ListingFormat();
  h[4] = 0x40;
  h[5] = 0x01;  // 320
  h[8] = 0xF0;
  h[9] = 0x00;  // 240
  return h;
}

class InstalledCompressorTest : public ::testing::Test {
 protected:
  // One compressor, selected and begun at 25 frames a second.
  InstalledCompressor& Begun(const Script& script) {
    scripts_ = {script};
    compressor_ = std::make_unique<InstalledCompressor>(std::make_unique<ScriptedManager>(&scripts_));
    compressor_->SetInputFormat(InstalledCompressor::ListingFormat());
    std::vector<std::string> names;
    EXPECT_TRUE(compressor_->List(&names));
    EXPECT_TRUE(compressor_->Select(0));
    compressor_->SetInputFormat(Input());
    compressor_->SetRate(25);
    compressor_->SetScale(1);
    compressor_->SetDataRate(data_rate_);
    EXPECT_TRUE(compressor_->Begin());
    return *compressor_;
  }
  Script& S() { return scripts_[0]; }

  std::vector<Script> scripts_;
  std::unique_ptr<InstalledCompressor> compressor_;
  uint32_t data_rate_ = 0;
  const std::vector<uint8_t> frame_ = std::vector<uint8_t>(320 * 240 * 4, 9);
};

TEST(CodecChoices, WithoutCompressorsAviOffersTheLosslessCodecAndTheWebItem) {
  const std::vector<CodecChoice> avi = CodecChoicesFor(0, {});
  ASSERT_EQ(avi.size(), 2u);
  EXPECT_EQ(avi[0].name, "Norvane Screen Video (Lossless)");
  EXPECT_EQ(avi[1].name, "More video codecs on the web...");
  EXPECT_EQ(PickCodecChoice(0, avi, {}, -1), 0);
  EXPECT_EQ(PickCodecChoice(0, avi, {}, 1), 0) << "the web item is never the choice";
  const std::vector<CodecChoice> exe = CodecChoicesFor(2, {"ignored"});
  ASSERT_EQ(exe.size(), 2u);
  EXPECT_EQ(exe[1].name, "Norvane Screen Video (Lossy)");
  EXPECT_EQ(PickCodecChoice(2, exe, {}, 7), 1);
}

TEST(CodecChoices, TheDefaultFollowsTheFormatsOrderOfCodes) {
  const std::vector<std::string> names = {"Windows Media Video 9", "XviD MPEG-4", "Cinepak"};
  const std::vector<uint32_t> codes = {FourCc('W', 'M', 'V', '3'), FourCc('X', 'V', 'I', 'D'), FourCc('c', 'v', 'i', 'd')};
  const std::vector<CodecChoice> avi = CodecChoicesFor(0, names);
  ASSERT_EQ(avi.size(), 5u);
  EXPECT_EQ(avi[2].compressor, 1);
  EXPECT_EQ(PickCodecChoice(0, avi, codes, -1), 2);  // XviD first for AVI
  EXPECT_EQ(PickCodecChoice(1, CodecChoicesFor(1, names), codes, -1), 1);  // WMV3 for Windows Media
  EXPECT_EQ(PickCodecChoice(0, CodecChoicesFor(0, {"Cinepak"}), {FourCc('c', 'v', 'i', 'd')}, -1), 0);
  EXPECT_EQ(PickCodecChoice(0, avi, codes, 3), 3);
}

TEST_F(InstalledCompressorTest, ListingKeepsCompressorsThatOpenAndTakeTheFormatOncePerCode) {
  Script good, closed, audio, refuses, twin;
  good.handler = FourCc('G', 'O', 'O', 'D');
  closed.handler = FourCc('S', 'H', 'U', 'T');
  closed.opens = false;
  audio.handler = FourCc('A', 'U', 'D', 'O');
  audio.vidc = false;
  refuses.handler = FourCc('N', 'O', 'P', 'E');
  refuses.takes_input = false;
  twin.handler = FourCc('G', 'O', 'O', 'D');
  scripts_ = {good, closed, audio, refuses, twin};
  InstalledCompressor c(std::make_unique<ScriptedManager>(&scripts_));
  std::vector<std::string> names;
  EXPECT_FALSE(c.List(&names)) << "no input format yet";
  c.SetInputFormat(InstalledCompressor::ListingFormat());
  ASSERT_TRUE(c.List(&names));
  ASSERT_EQ(names, (std::vector<std::string>{"Scripted codec"}));
  EXPECT_EQ(c.Find(FourCc('G', 'O', 'O', 'D')), 0);
  EXPECT_EQ(c.Find(FourCc('g', 'o', 'o', 'd')), -1) << "codes are compared as they are";
  EXPECT_FALSE(c.Select(1));
  EXPECT_FALSE(c.Begin()) << "nothing selected";
}

TEST_F(InstalledCompressorTest, DefaultsWhenTheCompressorHasNone) {
  Script s;
  InstalledCompressor& c = Begun(s);
  EXPECT_EQ(c.GetKeyFrameRate(), 250u);  // 10 s at 25 fps
  EXPECT_EQ(c.GetQuality(), 75u);
  EXPECT_EQ(c.GetDataRate(), 320u * 240u * 32u * 25u);
  EXPECT_EQ(S().frames_info.frame_count, 0x0FFFFFFFu);
  EXPECT_EQ(S().frames_info.key_rate, 250u);
  EXPECT_EQ(S().frames_info.quality, 75u);
  EXPECT_EQ(S().frames_info.rate, 25u);
  EXPECT_EQ(S().frames_info.scale, 1u);
  EXPECT_EQ(c.MaxBytesPerFrame(), 0u) << "no data-rate control without crunch";
  InstalledCompressor none(nullptr);
  EXPECT_EQ(none.GetDataRate(), 1000000u);
}

TEST_F(InstalledCompressorTest, AKeyFrameEveryTenSecondsOfFramesStartingWithTheFirst) {
  Script s;
  InstalledCompressor& c = Begun(s);
  for (int i = 0; i < 501; ++i) ASSERT_TRUE(c.CompressFrame(frame_.data()));
  for (size_t i = 0; i < S().compress_flags.size(); ++i) {
    const bool key = i == 0 || i == 250 || i == 500;
    EXPECT_EQ(S().compress_flags[i], key ? kCompressKeyFrame : 0u) << i;
  }
  EXPECT_EQ(S().size_limits[0], 0x00FFFFFFu);
  EXPECT_TRUE(c.IsKeyFrame());  // frame 500
}

TEST_F(InstalledCompressorTest, XvidsPlaceholderCountsAsAFrameNeverOffered) {
  Script s;
  s.output_code = FourCc('X', 'V', 'I', 'D');
  s.key_rate = 3;
  s.placeholders = {1};  // the second call
  InstalledCompressor& c = Begun(s);
  ASSERT_TRUE(c.CompressFrame(frame_.data()));
  EXPECT_EQ(c.FrameNumber(), 1u);
  const uint32_t countdown = c.KeyCountdown();
  ASSERT_TRUE(c.CompressFrame(frame_.data()));
  EXPECT_EQ(c.FrameNumber(), 1u);
  EXPECT_EQ(c.KeyCountdown(), countdown);
  EXPECT_EQ(c.GetCompressedSize(), 0u);
  ASSERT_TRUE(c.CompressFrame(frame_.data()));
  EXPECT_EQ(c.FrameNumber(), 2u);
  EXPECT_EQ(c.GetCompressedSize(), 100u);
}

TEST_F(InstalledCompressorTest, ATemporalCompressorKeepsThePreviousFrameExceptBeforeAKeyFrame) {
  Script s;
  s.flags = kCompressorTemporal;  // no fast temporal compression
  s.key_rate = 4;
  InstalledCompressor& c = Begun(s);
  EXPECT_TRUE(c.KeepsPreviousFrame());
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(c.CompressFrame(frame_.data()));
  // Key frames 0, 4, 8: the frame before each (3, 7) is not decompressed.
  EXPECT_EQ(S().decompressed_after, (std::vector<uint32_t>{0, 1, 2, 4, 5, 6, 8}));
  EXPECT_EQ(S().had_previous, (std::vector<bool>{false, true, true, true, false, true, true, true, false}));
  c.End();
  EXPECT_EQ(S().calls.back(), "compress-end");
  EXPECT_EQ(S().calls[S().calls.size() - 2], "decompress-end");
}

TEST_F(InstalledCompressorTest, ARefusedDecompressBeginEndsTheCompression) {
  Script s;
  s.flags = kCompressorTemporal;
  s.decompress_begins = false;
  scripts_ = {s};
  InstalledCompressor c(std::make_unique<ScriptedManager>(&scripts_));
  c.SetInputFormat(Input());
  std::vector<std::string> names;
  ASSERT_TRUE(c.List(&names));
  ASSERT_TRUE(c.Select(0));
  EXPECT_FALSE(c.Begin());
  EXPECT_FALSE(c.IsStarted());
  EXPECT_EQ(scripts_[0].calls.back(), "compress-end");
  EXPECT_FALSE(c.CompressFrame(frame_.data()));
}

TEST_F(InstalledCompressorTest, TheStateIsReadKeptAndGivenBack) {
  Script s;
  s.state = {1, 2, 3};
  InstalledCompressor& c = Begun(s);
  EXPECT_EQ(S().calls, (std::vector<std::string>{"get-state", "set-state", "get-state", "set-state",
                                                 "compress-begin"}));
  c.End();
  EXPECT_EQ(S().calls.back(), "set-state");
}

// Key frames three times the frame budget: their overrun is spread over the
// frames up to the next key frame as a debt that lowers the targets, never
// below half the budget, and it is paid off by the next key frame.
TEST_F(InstalledCompressorTest, KeyFramesLargerThanTheBudgetLowerTheFollowingTargets) {
  Script s;
  s.flags = kCompressorTemporal | kCompressorFastTemporal | kCompressorCrunch;
  s.key_rate = 5;
  s.sizes = {{0, 3000}, {5, 3000}};
  s.default_size = 1000;  // the other frames keep to the budget
  data_rate_ = 25000;     // 1000 bytes a frame at 25 fps
  InstalledCompressor& c = Begun(s);
  ASSERT_EQ(c.MaxBytesPerFrame(), 1000u);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(c.CompressFrame(frame_.data()));
  // Frame 0's 2000-byte overrun reaches the frames a fifth at a time; each
  // target gives up a quarter of the debt so far.
  EXPECT_EQ(S().size_limits[0], 0x00FFFFFFu);
  EXPECT_EQ(S().size_limits[1], 900u);
  EXPECT_EQ(S().size_limits[2], 800u);
  EXPECT_EQ(S().size_limits[3], 700u);
  EXPECT_EQ(S().size_limits[4], 600u);
  EXPECT_EQ(c.KeyAccumulator(), 0) << "all of it handed on before the next key frame";
  EXPECT_EQ(c.NormalAccumulator(), -2000);
  // Nothing is left for a key frame to hand on when the next one comes.
  Script t;
  t.flags = s.flags;
  t.key_rate = 2;
  t.sizes = {{0, 5000}};
  data_rate_ = 25000;
  InstalledCompressor& d = Begun(t);
  ASSERT_TRUE(d.CompressFrame(frame_.data()));  // key: -4000, half moved
  EXPECT_EQ(d.KeyAccumulator(), -2000);
  EXPECT_EQ(d.NormalAccumulator(), -2000);
  ASSERT_TRUE(d.CompressFrame(frame_.data()));  // 100 bytes: +900, the rest moved
  EXPECT_EQ(d.KeyAccumulator(), 0);
  EXPECT_EQ(d.NormalAccumulator(), -2000 + 900 - 2000);
  EXPECT_EQ(S().size_limits[1], 500u) << "the target never drops below half the budget";
}

}  // namespace
}  // namespace kmr

namespace kmr {
namespace {

// Only changed frames reach the compressor; the key frames still come by
// recording time: with a change every 7th slot and a key interval of 10
// slots, the first changed frame at or after each interval is a key frame
// (slots 0, 14, 28, ...), not every 10th changed frame (70 slots apart).
TEST_F(InstalledCompressorTest, KeyFramesComeByRecordingTimeWhenFewFramesChange) {
  Script s;
  s.key_rate = 10;
  InstalledCompressor& c = Begun(s);
  std::vector<uint32_t> key_slots;
  for (uint32_t slot = 0; slot < 100; ++slot) {
    if (slot % 7 != 0) {
      c.PassSlots(1);
      continue;
    }
    ASSERT_TRUE(c.CompressFrame(frame_.data()));
    if (c.IsKeyFrame()) key_slots.push_back(slot);
  }
  EXPECT_EQ(key_slots, (std::vector<uint32_t>{0, 14, 28, 42, 56, 70, 84, 98}));
  // Frames every slot: every 10th, as before.
  Script every;
  every.key_rate = 10;
  InstalledCompressor& d = Begun(every);
  for (int i = 0; i < 21; ++i) ASSERT_TRUE(d.CompressFrame(frame_.data()));
  for (size_t i = 0; i < S().compress_flags.size(); ++i) {
    EXPECT_EQ(S().compress_flags[i], i % 10 == 0 ? kCompressKeyFrame : 0u) << i;
  }
}

// A compressor as the compressing streams see it, counting the slots it is
// told went by.
class CountingCompressor : public VideoCompressor {
 public:
  bool StartFrames(const std::vector<uint8_t>&, uint32_t, uint32_t) override { return true; }
  void FinishFrames() override {}
  const std::vector<uint8_t>& OutputFormat() const override { return format_; }
  uint32_t Scale() const override { return 1; }
  uint32_t Rate() const override { return 10; }  // slots of 100 ms
  bool CompressFrame(const void*, uint32_t) override {
    ++compressed;
    return false;  // no stream to submit to here
  }
  void PassSlots(uint32_t slots) override { passed += slots; }
  const uint8_t* CompressedData() const override { return nullptr; }
  uint32_t CompressedSize() const override { return 0; }
  bool CompressedKeyFrame() const override { return false; }
  uint32_t passed = 0, compressed = 0;

 private:
  std::vector<uint8_t> format_;
};

class NoStream : public MediaStream {
 public:
  bool BindTo(StreamBinder&, uint32_t) override { return true; }
  bool WritePacket(const Packet*) override { return true; }
  bool Put(const MediaPacket& p) override {
    slots.push_back(p.time_stamp);
    return true;
  }
  std::vector<uint32_t> slots;
};

TEST(CompressingStage, SlotsWithoutAFrameAreToldToTheCompressor) {
  CountingCompressor c;
  NoStream stream;
  CompressingStage stage;
  stage.Begin(&c, &stream);
  MediaPacket none;  // nothing changed
  ASSERT_TRUE(stage.Put(none));
  none.slot = 1;
  none.time_stamp = 100;
  ASSERT_TRUE(stage.Put(none));
  EXPECT_EQ(c.passed, 2u);
  // Nothing for a while, then a late frame at slot 7: the slots it skipped
  // (2 to 6) went by too; its own slot is the compressor's to count.
  const uint8_t pixel[4] = {1, 2, 3, 4};
  MediaPacket late{pixel, 4, 700, 100, false, 7};
  EXPECT_FALSE(stage.Put(late));  // this compressor codes nothing
  EXPECT_EQ(c.compressed, 1u);
  EXPECT_EQ(c.passed, 2u + 5u);
  // Every slot handed on keeps its place; a slot already taken is refused.
  EXPECT_EQ(stream.slots, (std::vector<uint32_t>{0, 100}));
  MediaPacket again{nullptr, 0, 0, 100, false, 0};
  EXPECT_FALSE(stage.Put(again));
}

// The default data rate of a huge frame is held to what a signed 32-bit
// rate holds (the system's frames record), never wrapped to a negative one.
TEST_F(InstalledCompressorTest, AHugeFrameGetsTheLargestRateTheSystemTakes) {
  Script s;
  InstalledCompressor& c = Begun(s);
  std::vector<uint8_t> huge = Input();
  huge[4] = 0x00, huge[5] = 0x40, huge[6] = 0x00;  // 16384
  huge[8] = 0x00, huge[9] = 0x40, huge[10] = 0x00;  // 16384
  c.SetInputFormat(huge);
  EXPECT_EQ(c.GetDataRate(), 0x7FFFFFFFu);
}

}  // namespace
}  // namespace kmr
