#include "recorder/outputs/output_set.h"

#include <gtest/gtest.h>

#include <string>

namespace kmr {
namespace {

// Each kind gets its own writer, named as the kind, with both streams; only
// the self-playing file refuses an installed compressor's frames and has a
// player to set.
TEST(OutputSet, EachKindHasItsWriterAndStreams) {
  struct Expect {
    OutputKind kind;
    const char* name;
    const char* extension;
    bool compressor;
  };
  for (const Expect& e : {Expect{OutputKind::kExecutable, "Executable File", "exe", false},
                          Expect{OutputKind::kAvi, "Audio Video Interleaved", "avi", true},
                          Expect{OutputKind::kWindowsMedia, "Windows Media Video", "wmv", true},
                          Expect{OutputKind::kMatroska, "Matroska", "mkv", true},
                          Expect{OutputKind::kMp4, "MPEG-4", "mp4", true}}) {
    SCOPED_TRACE(e.extension);
    const OutputSet set = MakeOutputSet(e.kind);
    ASSERT_NE(set.writer, nullptr);
    EXPECT_EQ(set.kind, e.kind);
    EXPECT_EQ(set.writer->FormatName(), std::string(e.name));
    EXPECT_EQ(set.writer->Extension(), std::string(e.extension));
    EXPECT_NE(set.video, nullptr);
    EXPECT_NE(set.audio, nullptr);
    EXPECT_EQ(set.takes_compressor, e.compressor);
    EXPECT_EQ(set.executable != nullptr, e.kind == OutputKind::kExecutable);
  }
}

// The recorder window's stored "Format" index: a damaged value records the
// self-playing file, as the page shows it.
TEST(OutputSet, TheStoredFormatIndexNamesAKind) {
  EXPECT_EQ(OutputKindOfFormatIndex(0), OutputKind::kAvi);
  EXPECT_EQ(OutputKindOfFormatIndex(1), OutputKind::kWindowsMedia);
  EXPECT_EQ(OutputKindOfFormatIndex(2), OutputKind::kExecutable);
  EXPECT_EQ(OutputKindOfFormatIndex(-1), OutputKind::kExecutable);
  EXPECT_EQ(OutputKindOfFormatIndex(0x7FFFFFFF), OutputKind::kExecutable);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Describe(OutputKindOfFormatIndex(i)).format_index, i);
}

}  // namespace
}  // namespace kmr
