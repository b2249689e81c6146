#include "recorder/ui/pages/recording_fill.h"

#include <gtest/gtest.h>

#include "recorder/codecs/testing/raw_frame_encoder.h"
#include "recorder/outputs/testing/scripted_compressor.h"

namespace kmr {
namespace {

// Both recorders fill a recording's settings through FillRecording: a chosen
// compressor replaces the own codec, and every chosen value arrives.
TEST(FillRecording, ACompressorTakesTheOwnCodecsPlaceAndTheChoicesArrive) {
  RawFrameEncoder own;
  testing::ScriptedCompressor compressor(FourCc('F', 'M', 'P', '4'), 64, 48, 1, 25);
  InfoSettings texts;
  texts.title = "Demo";
  texts.author = "A";
  texts.copyright = "C";
  texts.description = "D";
  const RecordingSettings with_own =
      FillRecording(OutputKind::kAvi, CodecUse{&own, nullptr}, "/tmp/a.avi", Rect{1, 2, 31, 42}, "12", true, texts);
  EXPECT_EQ(with_own.output, OutputKind::kAvi);
  EXPECT_EQ(with_own.encoder, &own);
  EXPECT_EQ(with_own.compressor, nullptr);
  EXPECT_EQ(with_own.output_path, "/tmp/a.avi");
  EXPECT_EQ(with_own.capture_rect, (Rect{1, 2, 31, 42}));
  EXPECT_EQ(with_own.fps_text, "12");
  EXPECT_TRUE(with_own.record_audio);
  EXPECT_EQ(with_own.key_interval, kRecordingKeyInterval);
  EXPECT_EQ(with_own.title + with_own.author + with_own.copyright + with_own.description, "DemoACD");

  const RecordingSettings with_compressor = FillRecording(OutputKind::kWindowsMedia, CodecUse{&own, &compressor},
                                                          "/tmp/b.wmv", Rect{0, 0, 8, 8}, "5", false, texts, 1000);
  EXPECT_EQ(with_compressor.encoder, nullptr);
  EXPECT_EQ(with_compressor.compressor, &compressor);
  EXPECT_FALSE(with_compressor.record_audio);
  EXPECT_EQ(with_compressor.key_interval, 1000u);
}

}  // namespace
}  // namespace kmr
