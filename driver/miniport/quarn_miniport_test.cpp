// The miniport's requests over host memory: blocks handed out and mapped,
// views dropped and blocks released in pairs, the next write sequence
// taken by many threads at once, and every malformed request refused.
#include "driver/miniport/quarn_miniport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// Host memory behind 32-bit words: block i at 0x10000000 + i × 0x01000000,
// views at 0x60000000 and up.
struct HostMemory {
  std::vector<void*> blocks;
  int live = 0, views = 0;
  QuarnWord next_view = 0x60000000u;
};

QuarnWord Allocate(void* c, QuarnWord size, void** block) {
  auto* m = static_cast<HostMemory*>(c);
  *block = std::calloc(1, size);
  m->blocks.push_back(*block);
  ++m->live;
  return 0x10000000u + static_cast<QuarnWord>(m->blocks.size() - 1) * 0x01000000u;
}
void ReleaseBlock(void* c, void* block) {
  auto* m = static_cast<HostMemory*>(c);
  std::free(block);
  --m->live;
}
QuarnWord MapIntoProcess(void* c, void*, QuarnWord, void** view) {
  auto* m = static_cast<HostMemory*>(c);
  ++m->views;
  *view = reinterpret_cast<void*>(static_cast<uintptr_t>(m->next_view));
  const QuarnWord user = m->next_view;
  m->next_view += 0x100000u;
  return user;
}
void UnmapFromProcess(void* c, void*) { --static_cast<HostMemory*>(c)->views; }
QuarnWord Increment(void*, volatile QuarnWord* word) { return __atomic_add_fetch(word, 1u, __ATOMIC_ACQ_REL); }

class Miniport : public ::testing::Test {
 protected:
  void SetUp() override {
    const QuarnMemoryServices s{&memory_, Allocate, ReleaseBlock, MapIntoProcess, UnmapFromProcess, Increment};
    QuarnMiniportInit(&mp_, &s);
  }
  void TearDown() override {
    QuarnMiniportReset(&mp_);
    EXPECT_EQ(memory_.live, 0) << "every block released";
    EXPECT_EQ(memory_.views, 0) << "every view removed";
  }
  unsigned Request(unsigned code, QuarnWord (&ex)[4]) {
    unsigned char in[16], out[16];
    std::memcpy(in, ex, 16);
    unsigned n = 0;
    const unsigned r = QuarnMiniportRequest(&mp_, code, in, 16, out, 16, &n);
    if (r == QUARN_MP_OK) {
      EXPECT_EQ(n, 16u);
      std::memcpy(ex, out, 16);
    }
    return r;
  }
  unsigned Next(QuarnWord address, QuarnWord* value) {
    unsigned n = 0;
    return QuarnMiniportRequest(&mp_, 0x230454u, &address, 4, value, 4, &n);
  }
  HostMemory memory_;
  QuarnMiniport mp_;
};

constexpr unsigned kMap = 0x230458u, kUnmap = 0x23045Cu;

TEST_F(Miniport, MapAndUnmapComeInPairsAndTheLastUnmapReleases) {
  // The ring's way: allocate, map into the process, unmap twice.
  QuarnWord ring[4] = {0, 0, 0, 1024 * 16 + 12};
  ASSERT_EQ(Request(kMap, ring), QUARN_MP_OK);
  EXPECT_EQ(ring[1], 0x10000000u) << "the kernel address";
  EXPECT_EQ(ring[2], 0u);
  ASSERT_EQ(Request(kMap, ring), QUARN_MP_OK);
  EXPECT_EQ(ring[1], 0x10000000u) << "unchanged";
  EXPECT_EQ(ring[2], 0x60000000u) << "the process's view";
  // The surface's way: allocated once, mapped into two recordings in turn.
  QuarnWord surface[4] = {0, 0, 0, 640 * 480 * 4};
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  ASSERT_EQ(Request(kUnmap, surface), QUARN_MP_OK);
  EXPECT_EQ(surface[2], 0u);
  EXPECT_EQ(memory_.live, 2);
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  ASSERT_EQ(Request(kUnmap, surface), QUARN_MP_OK);
  EXPECT_EQ(memory_.views, 1) << "only the ring's view is left";

  ASSERT_EQ(Request(kUnmap, ring), QUARN_MP_OK);
  EXPECT_EQ(memory_.live, 2) << "a view went, the block stays";
  ASSERT_EQ(Request(kUnmap, ring), QUARN_MP_OK);
  EXPECT_EQ(ring[1], 0u) << "released";
  EXPECT_EQ(memory_.live, 1);
  // A released block's address is not taken again.
  QuarnWord stale[4] = {0, 0x10000000u, 0, 16};
  EXPECT_EQ(Request(kMap, stale), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER));
  EXPECT_EQ(Request(kUnmap, stale), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER));
}

TEST_F(Miniport, TheNextSequenceNeverRepeatsAcrossThreads) {
  QuarnWord ring[4] = {0, 0, 0, 4096 * 16 + 12};
  ASSERT_EQ(Request(kMap, ring), QUARN_MP_OK);
  const QuarnWord word = ring[1] + 4;  // the write-sequence word
  constexpr int kThreads = 8, kEach = 20000;
  std::vector<std::vector<QuarnWord>> got(kThreads);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        QuarnWord v = 0;
        if (Next(word, &v) != QUARN_MP_OK) ++failures;
        got[t].push_back(v);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  std::vector<QuarnWord> all;
  for (const auto& g : got) all.insert(all.end(), g.begin(), g.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a sequence was handed out twice";
  EXPECT_EQ(all.front(), 1u);
  EXPECT_EQ(all.back(), static_cast<QuarnWord>(kThreads * kEach));
}

TEST_F(Miniport, MalformedRequestsAreRefusedBeforeAnythingIsTouched) {
  QuarnWord ring[4] = {0, 0, 0, 64};
  ASSERT_EQ(Request(kMap, ring), QUARN_MP_OK);
  unsigned char small[15] = {};
  unsigned char out[16] = {};
  unsigned n = 99;
  EXPECT_EQ(QuarnMiniportRequest(&mp_, kMap, small, 15, out, 16, &n), static_cast<unsigned>(QUARN_MP_INSUFFICIENT_BUFFER));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(QuarnMiniportRequest(&mp_, kMap, out, 16, out, 8, &n), static_cast<unsigned>(QUARN_MP_INSUFFICIENT_BUFFER));
  EXPECT_EQ(QuarnMiniportRequest(&mp_, kMap, nullptr, 16, out, 16, &n), static_cast<unsigned>(QUARN_MP_INSUFFICIENT_BUFFER));
  QuarnWord v = 0;
  EXPECT_EQ(Next(ring[1] + 2, &v), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER)) << "misaligned";
  EXPECT_EQ(Next(ring[1] + 62, &v), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER)) << "runs past the block";
  EXPECT_EQ(Next(ring[1] + 64, &v), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER)) << "past the block";
  EXPECT_EQ(Next(0x0BADF00Du, &v), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER)) << "no block there";
  EXPECT_EQ(Next(ring[1] + 60, &v), static_cast<unsigned>(QUARN_MP_OK)) << "the block's last word";
  QuarnWord address = ring[1];
  EXPECT_EQ(QuarnMiniportRequest(&mp_, 0x230454u, &address, 2, &v, 4, &n),
            static_cast<unsigned>(QUARN_MP_INSUFFICIENT_BUFFER));
  QuarnWord empty[4] = {0, 0, 0, 0};
  EXPECT_EQ(Request(kMap, empty), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER)) << "an empty block";
  QuarnWord huge[4] = {0, 0, 0, QUARN_MINIPORT_MAX_BLOCK + 1};
  EXPECT_EQ(Request(kMap, huge), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER));
  EXPECT_EQ(memory_.live, 1) << "nothing was allocated for them";
  // Colour registers: 1032 bytes, entries inside the 256.
  std::vector<unsigned char> colours(1032, 0);
  colours[0] = 0;
  colours[1] = 1;  // 256 entries
  EXPECT_EQ(QuarnMiniportRequest(&mp_, 0x23041Cu, colours.data(), 1032, nullptr, 0, &n), static_cast<unsigned>(QUARN_MP_OK));
  colours[2] = 1;  // from index 1: one too many
  EXPECT_EQ(QuarnMiniportRequest(&mp_, 0x23041Cu, colours.data(), 1032, nullptr, 0, &n),
            static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER));
  EXPECT_EQ(QuarnMiniportRequest(&mp_, 0x23041Cu, colours.data(), 1000, nullptr, 0, &n),
            static_cast<unsigned>(QUARN_MP_INSUFFICIENT_BUFFER));
  EXPECT_EQ(QuarnMiniportRequest(&mp_, 0x230400u, colours.data(), 16, out, 16, &n),
            static_cast<unsigned>(QUARN_MP_INVALID_FUNCTION));
}

TEST_F(Miniport, AFullTableSaysSoAndKeepsWhatItHas) {
  for (int i = 0; i < QUARN_MINIPORT_BLOCKS; ++i) {
    QuarnWord ex[4] = {0, 0, 0, 32};
    ASSERT_EQ(Request(kMap, ex), QUARN_MP_OK);
  }
  QuarnWord one_more[4] = {0, 0, 0, 32};
  EXPECT_EQ(Request(kMap, one_more), static_cast<unsigned>(QUARN_MP_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(memory_.live, QUARN_MINIPORT_BLOCKS);
}

}  // namespace
