#include "recorder/codecs/frame_coding_stage.h"

#include <gtest/gtest.h>

#include <vector>

#include "recorder/codecs/testing/raw_frame_encoder.h"

namespace kmr {
namespace {

// Codes a frame with a key request to {9, 9} (a key frame), any other to
// nothing; fails when told to.
class ScriptedEncoder : public RawFrameEncoder {
 public:
  bool fail = false;
  bool Encode(const EncoderInput& in) override {
    if (fail) return false;
    key_ = in.key_requested;
    data_ = in.key_requested ? std::vector<uint8_t>{9, 9} : std::vector<uint8_t>{};
    return true;
  }
  bool IsKeyFrame() const override { return key_; }
  const uint8_t* PacketData() const override { return data_.data(); }
  uint32_t PacketLength() const override { return static_cast<uint32_t>(data_.size()); }

 private:
  bool key_ = false;
  std::vector<uint8_t> data_;
};

class KeptPackets : public PacketSink {
 public:
  struct Kept {
    std::vector<uint8_t> bytes;
    bool has_data, key;
    uint32_t time_stamp, duration, slot;
  };
  bool refuse = false;
  std::vector<Kept> kept;
  bool Put(const MediaPacket& p) override {
    if (refuse) return false;
    const auto* b = static_cast<const uint8_t*>(p.data);
    kept.push_back(Kept{std::vector<uint8_t>(b, b + p.size), p.data != nullptr, p.key, p.time_stamp, p.duration,
                        p.slot});
    return true;
  }
  MediaWriter* GetWriter() const override { return nullptr; }
};

MediaPacket At(uint32_t time_stamp, uint32_t duration, uint32_t slot) {
  MediaPacket p;
  p.time_stamp = time_stamp;
  p.duration = duration;
  p.slot = slot;
  return p;
}

// The packet carries the encoder's bytes and key flag at the place the
// source gave; an unchanged frame goes on without data, taking its slot.
TEST(FrameCodingStage, CodesEachFrameAndHandsItOnAtItsPlace) {
  ScriptedEncoder encoder;
  KeptPackets next;
  FrameCodingStage stage;
  EncoderInput frame;
  EXPECT_EQ(stage.Put(frame, At(0, 66, 0)), FrameCodingStage::Result::kCodingFailed) << "not begun";
  stage.Begin(&encoder, &next);
  frame.key_requested = true;
  ASSERT_EQ(stage.Put(frame, At(0, 66, 0)), FrameCodingStage::Result::kHandedOn);
  frame.key_requested = false;
  ASSERT_EQ(stage.Put(frame, At(200, 66, 3)), FrameCodingStage::Result::kHandedOn);
  ASSERT_EQ(next.kept.size(), 2u);
  EXPECT_EQ(next.kept[0].bytes, (std::vector<uint8_t>{9, 9}));
  EXPECT_TRUE(next.kept[0].key);
  EXPECT_EQ(next.kept[0].duration, 66u);
  EXPECT_TRUE(next.kept[1].bytes.empty());
  EXPECT_FALSE(next.kept[1].has_data);
  EXPECT_FALSE(next.kept[1].key);
  EXPECT_EQ(next.kept[1].time_stamp, 200u);
  EXPECT_EQ(next.kept[1].slot, 3u);
}

// The source stops the recording with a different reason for each.
TEST(FrameCodingStage, TellsACodingFailureFromARefusedPacket) {
  ScriptedEncoder encoder;
  KeptPackets next;
  FrameCodingStage stage;
  stage.Begin(&encoder, &next);
  EncoderInput frame;
  encoder.fail = true;
  EXPECT_EQ(stage.Put(frame, At(0, 66, 0)), FrameCodingStage::Result::kCodingFailed);
  encoder.fail = false;
  next.refuse = true;
  EXPECT_EQ(stage.Put(frame, At(0, 66, 0)), FrameCodingStage::Result::kNotHandedOn);
  EXPECT_TRUE(next.kept.empty());
}

}  // namespace
}  // namespace kmr
