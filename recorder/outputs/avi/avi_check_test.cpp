// A finished AVI file told from one left unfinished, read from the file:
// files written by another program (ffmpeg) and built here chunk by chunk,
// cut anywhere or with a piece missing.
#include "recorder/outputs/avi/avi_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutCode(std::vector<uint8_t>* out, const char* code) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(code[i]));
}
std::vector<uint8_t> ChunkOf(const char* code, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> c;
  PutCode(&c, code);
  Put32(&c, static_cast<uint32_t>(data.size()));
  c.insert(c.end(), data.begin(), data.end());
  if (data.size() % 2) c.push_back(0);
  return c;
}
std::vector<uint8_t> ListOf(const char* type, const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> data;
  PutCode(&data, type);
  for (const auto& p : parts) data.insert(data.end(), p.begin(), p.end());
  return ChunkOf("LIST", data);
}

// A one-stream AVI with `frames` video chunks: what AVIFile leaves when it
// finishes a file; each part can be left out or miscounted.
struct Avi {
  int frames = 3;
  bool with_index = true;
  uint32_t total_frames = 3, stream_length = 3;
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> avih(56, 0), strh(56, 0), strf(40, 0);
    for (int i = 0; i < 4; ++i) avih[16 + i] = static_cast<uint8_t>(total_frames >> (8 * i));
    std::copy_n("vids", 4, strh.begin());
    for (int i = 0; i < 4; ++i) strh[32 + i] = static_cast<uint8_t>(stream_length >> (8 * i));
    std::vector<std::vector<uint8_t>> chunks;
    std::vector<uint8_t> idx;
    uint32_t offset = 4;
    for (int f = 0; f < frames; ++f) {
      chunks.push_back(ChunkOf("00dc", std::vector<uint8_t>(10 + f, static_cast<uint8_t>(f))));
      PutCode(&idx, "00dc");
      Put32(&idx, 0x10);
      Put32(&idx, offset);
      Put32(&idx, static_cast<uint32_t>(10 + f));
      offset += static_cast<uint32_t>(chunks.back().size());
    }
    std::vector<uint8_t> body;
    PutCode(&body, "AVI ");
    for (const auto& part : {ListOf("hdrl", {ChunkOf("avih", avih), ListOf("strl", {ChunkOf("strh", strh),
                                                                                    ChunkOf("strf", strf)})}),
                             ListOf("movi", chunks)}) {
      body.insert(body.end(), part.begin(), part.end());
    }
    if (with_index) {
      const auto i = ChunkOf("idx1", idx);
      body.insert(body.end(), i.begin(), i.end());
    }
    return ChunkOf("RIFF", body);
  }
};

class AviCheck : public ::testing::Test {
 protected:
  bool Finished(const std::vector<uint8_t>& bytes, std::string* why) {
    const std::string path = dir_.File("check.avi");
    testing::WriteAll(path, bytes);
    return AviFileFinished(path, why);
  }
  testing::TempDir dir_;
};

TEST_F(AviCheck, AFinishedFileAndEachThingAnUnfinishedOneLacks) {
  std::string why;
  EXPECT_TRUE(Finished(Avi{}.Bytes(), &why)) << why;
  Avi no_index;
  no_index.with_index = false;
  EXPECT_FALSE(Finished(no_index.Bytes(), &why));
  EXPECT_EQ(why, "its index was never written");
  Avi uncounted;
  uncounted.total_frames = 0;
  EXPECT_FALSE(Finished(uncounted.Bytes(), &why));
  EXPECT_EQ(why, "its headers do not count the samples of its index");
  Avi empty;  // nothing recorded: nothing to index
  empty.frames = 0;
  empty.with_index = false;
  empty.total_frames = empty.stream_length = 0;
  EXPECT_TRUE(Finished(empty.Bytes(), &why)) << why;
  std::vector<uint8_t> cut = Avi{}.Bytes();
  cut.resize(cut.size() - 1);
  EXPECT_FALSE(Finished(cut, &why));
  EXPECT_EQ(why, "the file ends before its RIFF chunk does");
  std::vector<uint8_t> wave = Avi{}.Bytes();
  std::copy_n("WAVE", 4, wave.begin() + 8);
  EXPECT_FALSE(Finished(wave, &why));
  EXPECT_EQ(why, "it does not start as an AVI file");
  EXPECT_FALSE(AviFileFinished(dir_.File("missing.avi"), &why));
  EXPECT_EQ(why, "the file cannot be read back");
}

// Every cut of a finished file is told from it, and no size inside it is
// taken on trust (AddressSanitizer watches): every cut and every byte's
// worst value.
TEST_F(AviCheck, NoCutOrDamagedSizeIsTakenForFinished) {
  const std::vector<uint8_t> whole = Avi{}.Bytes();
  std::string why;
  for (size_t n = 0; n < whole.size(); ++n) {
    EXPECT_FALSE(Finished(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(n)), &why)) << n;
  }
  for (size_t at = 4; at + 4 <= whole.size(); at += 4) {
    std::vector<uint8_t> damaged = whole;
    for (int i = 0; i < 4; ++i) damaged[at + i] = 0xFF;
    Finished(damaged, &why);  // whatever it says, it says it safely
  }
}

// A file another program wrote and finished passes; cut at many places, it
// does not.
TEST_F(AviCheck, AFileFfmpegFinishedAndItsCuts) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
  const std::string path = dir_.File("ffmpeg.avi");
  const std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v rawvideo " +
                          path + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::string why;
  ASSERT_TRUE(AviFileFinished(path, &why)) << why;
  const std::vector<uint8_t> whole = testing::ReadAll(path);
  for (size_t n = 12; n < whole.size(); n += whole.size() / 97 + 1) {
    EXPECT_FALSE(Finished(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(n)), &why)) << n;
  }
}

}  // namespace
}  // namespace kmr
