#include "recorder/codecs/own_codecs.h"

#include <gtest/gtest.h>

#include <string>

#include "player/codecs/frame_decoder.h"
#include "shared/container/container_format.h"
#include "shared/container/own_codec_info.h"

namespace kmr {
namespace {

// The codec list, the encoders and the descriptors every reader and writer
// uses say the same of each own codec.
TEST(OwnCodecInfo, EveryOwnCodecIsDescribedOnceAndAlike) {
  uint32_t count = 0;
  const OwnCodecInfo* infos = OwnCodecInfos(&count);
  ASSERT_EQ(count, OwnCodecs().size());
  EXPECT_EQ(infos[0].fourcc, kFourCcLossless) << "the lossless codec first";
  platform::NoDesktopState desktop;
  for (uint32_t i = 0; i < count; ++i) {
    const OwnCodecInfo& info = infos[i];
    SCOPED_TRACE(info.option);
    EXPECT_EQ(FindOwnCodecInfo(info.fourcc), &info);
    EXPECT_TRUE(HasFrameDecoder(info)) << "the player decodes every own codec";
    const OwnCodec* codec = FindOwnCodec(info.option);
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(std::string(codec->name), info.name);
    std::string why;
    if (codec->available(&why)) {
      const auto encoder = codec->make(&desktop);
      ASSERT_NE(encoder, nullptr);
      EXPECT_EQ(encoder->FourCc(), info.fourcc);
      EXPECT_EQ(std::string(encoder->Name()), info.name);
    }
    // The wide name is the narrow one.
    std::u16string wide(info.display_name);
    ASSERT_EQ(wide.size(), std::string(info.name).size());
    for (size_t c = 0; c < wide.size(); ++c) EXPECT_EQ(wide[c], static_cast<char16_t>(info.name[c]));
  }
  // The lossy codec's frames have even sides and no key frames.
  EXPECT_TRUE(FindOwnCodecInfo(kFourCcLossy)->even_sides);
  EXPECT_FALSE(FindOwnCodecInfo(kFourCcLossy)->key_frames);
  EXPECT_FALSE(FindOwnCodecInfo(kFourCcLossless)->even_sides);
  EXPECT_EQ(FindOwnCodecInfo(FourCc('X', 'V', 'I', 'D')), nullptr);
  EXPECT_FALSE(IsOwnFourCc(0));
}

}  // namespace
}  // namespace kmr
