// Both packet deflaters make zlib streams that zlib's inflate (the players')
// turns back into exactly what was added, whatever the pieces' sizes.
#include "recorder/codecs/packet_deflater.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace kmr {
namespace {

std::vector<uint8_t> Inflate(const uint8_t* data, size_t size, size_t expected) {
  std::vector<uint8_t> out(expected + 1);
  uLongf n = static_cast<uLongf>(out.size());
  if (uncompress(out.data(), &n, data, static_cast<uLong>(size)) != Z_OK) return {0xEE};
  out.resize(n);
  return out;
}

std::vector<std::unique_ptr<PacketDeflater>> Deflaters() {
  std::vector<std::unique_ptr<PacketDeflater>> all;
  all.push_back(MakeZlibPacketDeflater());
  if (auto d = MakeLibdeflatePacketDeflater()) all.push_back(std::move(d));
  all.push_back(MakePacketDeflater());
  return all;
}

TEST(PacketDeflater, EveryPacketInflatesToWhatWasAdded) {
  std::mt19937 rng(7);
  for (auto& d : Deflaters()) {
    for (const size_t piece : {size_t{0}, size_t{12}, size_t{4000}, size_t{70000}, size_t{1 << 20}}) {
      SCOPED_TRACE(piece);
      std::vector<uint8_t> added;
      ASSERT_TRUE(d->Begin());
      for (int k = 0; k < 5; ++k) {
        std::vector<uint8_t> bytes(piece);
        // Half noise, half a repeated pattern: both kinds of screen data.
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = i % 2 ? static_cast<uint8_t>(rng()) : uint8_t(i / 7);
        ASSERT_TRUE(d->Add(bytes.data(), bytes.size()));
        added.insert(added.end(), bytes.begin(), bytes.end());
      }
      ASSERT_TRUE(d->Finish());
      ASSERT_GT(d->Size(), 0u);
      EXPECT_EQ(Inflate(d->Data(), d->Size(), added.size()), added);
    }
  }
}

TEST(PacketDeflater, APacketLeftUnfinishedIsDroppedByTheNext) {
  for (auto& d : Deflaters()) {
    const uint8_t first[] = {1, 2, 3}, second[] = {9, 8};
    ASSERT_TRUE(d->Begin());
    ASSERT_TRUE(d->Add(first, sizeof(first)));
    ASSERT_TRUE(d->Begin());
    ASSERT_TRUE(d->Add(second, sizeof(second)));
    ASSERT_TRUE(d->Finish());
    EXPECT_EQ(Inflate(d->Data(), d->Size(), 2), (std::vector<uint8_t>{9, 8}));
    EXPECT_FALSE(d->Finish()) << "no packet under way";
    EXPECT_FALSE(d->Add(first, 1));
    d->Release();
    ASSERT_TRUE(d->Begin());
    ASSERT_TRUE(d->Finish());
    EXPECT_EQ(Inflate(d->Data(), d->Size(), 0), std::vector<uint8_t>{}) << "an empty stream";
  }
}

}  // namespace
}  // namespace kmr
