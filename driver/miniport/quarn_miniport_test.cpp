// The miniport's requests over host memory: blocks handed out and mapped,
// views tied to their processes, blocks released only by the driver's
// teardown, the next write sequence taken by many threads at once, and
// every malformed request refused.
#include "driver/miniport/quarn_miniport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <thread>
#include <vector>

namespace {

// Host memory behind 32-bit words: block i at 0x10000000 + i × 0x01000000,
// views at 0x60000000 and up, each tied to the process that was current
// when it was made. Memory is freed once released and mapped by nobody.
struct HostMemory {
  struct Block {
    int refs = 0;
    void* bytes = nullptr;
  };
  struct View {
    int process;
    int block;
    bool live = true;
  };
  std::vector<Block> blocks;
  std::vector<View*> views_made;
  int live = 0;   // blocks not yet freed
  int views = 0;  // views in some process's address space
  int process = 1;
  std::set<int> ended;
  int wrong_context = 0, refusals = 0;
  QuarnWord next_view = 0x60000000u;

  void Unref(int b) {
    if (--blocks[b].refs > 0) return;
    std::free(blocks[b].bytes);
    blocks[b].bytes = nullptr;
    --live;
  }
  int IndexOf(void* block) const {
    for (size_t i = 0; i < blocks.size(); ++i) {
      if (blocks[i].bytes == block) return static_cast<int>(i);
    }
    return -1;
  }
  // The process ends: its address space, and its views, are gone.
  void End(int p) {
    ended.insert(p);
    for (View* v : views_made) {
      if (v->process == p && v->live) {
        v->live = false;
        --views;
        Unref(v->block);
      }
    }
  }
  ~HostMemory() {
    for (View* v : views_made) delete v;
  }
};

QuarnWord Allocate(void* c, QuarnWord size, void** block) {
  auto* m = static_cast<HostMemory*>(c);
  m->blocks.push_back({1, std::calloc(1, size)});
  ++m->live;
  *block = m->blocks.back().bytes;
  return 0x10000000u + static_cast<QuarnWord>(m->blocks.size() - 1) * 0x01000000u;
}
void ReleaseBlock(void* c, void* block) {
  auto* m = static_cast<HostMemory*>(c);
  m->Unref(m->IndexOf(block));
}
void* Current(void* c) { return reinterpret_cast<void*>(static_cast<intptr_t>(static_cast<HostMemory*>(c)->process)); }
QuarnWord MapIntoProcess(void* c, void* block, QuarnWord, void** view) {
  auto* m = static_cast<HostMemory*>(c);
  if (m->refusals > 0) {
    --m->refusals;
    return 0;
  }
  auto* v = new HostMemory::View{m->process, m->IndexOf(block)};
  m->views_made.push_back(v);
  ++m->blocks[v->block].refs;
  ++m->views;
  *view = v;
  const QuarnWord user = m->next_view;
  m->next_view += 0x100000u;
  return user;
}
void UnmapFromProcess(void* c, void* view) {
  auto* m = static_cast<HostMemory*>(c);
  auto* v = static_cast<HostMemory::View*>(view);
  if (v->process != m->process || !v->live) {
    ++m->wrong_context;
    return;
  }
  v->live = false;
  --m->views;
  m->Unref(v->block);
}
int Ended(void* c, void* view) {
  return static_cast<HostMemory*>(c)->ended.count(static_cast<HostMemory::View*>(view)->process) ? 1 : 0;
}
void Forget(void*, void*) {}
QuarnWord Increment(void*, volatile QuarnWord* word) { return __atomic_add_fetch(word, 1u, __ATOMIC_ACQ_REL); }

class Miniport : public ::testing::Test {
 protected:
  void SetUp() override {
    const QuarnMemoryServices s{&memory_,         Allocate, ReleaseBlock, Current, MapIntoProcess,
                                UnmapFromProcess, Ended,    Forget,       Increment};
    QuarnMiniportInit(&mp_, &s);
  }
  void TearDown() override {
    QuarnMiniportReset(&mp_);
    for (int p = 1; p < 64; ++p) memory_.End(p);  // whatever a process kept goes with it
    EXPECT_EQ(memory_.live, 0) << "every block freed";
    EXPECT_EQ(memory_.views, 0) << "every view removed";
    EXPECT_EQ(memory_.wrong_context, 0) << "a view was unmapped outside its own process";
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
  unsigned Release(QuarnWord (&ex)[4]) {
    ex[0] = QUARN_UNMAP_RELEASE;
    const unsigned r = Request(0x23045Cu, ex);
    ex[0] = 0;
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

TEST_F(Miniport, MapUnmapAndReleaseAsTheDriverSendsThem) {
  // The ring's way: allocate, map into the process, unmap, release.
  QuarnWord ring[4] = {0, 0, 0, 1024 * 16 + 12};
  ASSERT_EQ(Request(kMap, ring), QUARN_MP_OK);
  EXPECT_EQ(ring[1], 0x10000000u) << "the kernel address";
  EXPECT_EQ(ring[2], 0u);
  ASSERT_EQ(Request(kMap, ring), QUARN_MP_OK);
  EXPECT_EQ(ring[1], 0x10000000u) << "unchanged";
  EXPECT_EQ(ring[2], 0x60000000u) << "the process's view";
  // The surface's way: allocated once, mapped into two recordings in turn;
  // a process that maps twice has one view.
  QuarnWord surface[4] = {0, 0, 0, 640 * 480 * 4};
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  const QuarnWord first = surface[2];
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  EXPECT_EQ(surface[2], first) << "the same view again";
  EXPECT_EQ(memory_.views, 2);
  ASSERT_EQ(Request(kUnmap, surface), QUARN_MP_OK);
  EXPECT_EQ(surface[2], 0u);
  EXPECT_EQ(memory_.views, 1) << "only the ring's view is left";
  ASSERT_EQ(Request(kUnmap, surface), QUARN_MP_OK) << "no view: nothing to do";
  EXPECT_EQ(memory_.live, 2) << "an unmap never releases";

  ASSERT_EQ(Request(kUnmap, ring), QUARN_MP_OK);
  EXPECT_EQ(memory_.views, 0);
  EXPECT_EQ(memory_.live, 2) << "a view went, the block stays";
  ASSERT_EQ(Release(ring), QUARN_MP_OK);
  EXPECT_EQ(ring[1], 0u) << "released";
  EXPECT_EQ(memory_.live, 1);
  // A released block's address is not taken again.
  QuarnWord stale[4] = {0, 0x10000000u, 0, 16};
  EXPECT_EQ(Request(kMap, stale), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER));
  EXPECT_EQ(Request(kUnmap, stale), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER));
  EXPECT_EQ(Release(stale), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER));
}

// Two processes map one block and unmap, in every order the two can take:
// each unmap removes the caller's own view, in its own context, and the
// other's view stays where it was.
TEST_F(Miniport, EachProcessUnmapsOnlyItsOwnView) {
  QuarnWord surface[4] = {0, 0, 0, 4096};
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  // Events: 0 A maps, 1 B maps, 2 A unmaps, 3 B unmaps; a process maps before it unmaps.
  std::vector<int> order{0, 1, 2, 3};
  int orders = 0;
  do {
    const auto at = [&](int e) { return std::find(order.begin(), order.end(), e) - order.begin(); };
    if (at(0) > at(2) || at(1) > at(3)) continue;
    ++orders;
    std::map<int, QuarnWord> view;  // process → its view
    for (int e : order) {
      const int process = e % 2 == 0 ? 1 : 2;
      memory_.process = process;
      if (e < 2) {
        ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
        view[process] = surface[2];
      } else {
        ASSERT_EQ(Request(kUnmap, surface), QUARN_MP_OK);
        view.erase(process);
      }
      EXPECT_EQ(memory_.views, static_cast<int>(view.size()));
      // A process that maps again gets back exactly the view it has.
      for (const auto& [p, address] : view) {
        memory_.process = p;
        ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
        EXPECT_EQ(surface[2], address) << "process " << p << " lost its view";
      }
    }
    EXPECT_EQ(memory_.wrong_context, 0);
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(orders, 6);
  memory_.process = 1;
  ASSERT_EQ(Release(surface), QUARN_MP_OK);
}

// The driver's teardown releases a block that another, living process
// still maps: that view is left to its process (never unmapped from here)
// and the memory lives until the process lets go of it.
TEST_F(Miniport, ReleaseLeavesOtherProcessesViewsAndTheirMemory) {
  QuarnWord surface[4] = {0, 0, 0, 4096};
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  memory_.process = 7;  // the recorder
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  memory_.process = 3;  // the display settings change in another process
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  ASSERT_EQ(Release(surface), QUARN_MP_OK);
  EXPECT_EQ(memory_.wrong_context, 0) << "the recorder's view was unmapped from process 3";
  EXPECT_EQ(memory_.views, 1) << "process 3's own view went, the recorder's stayed";
  EXPECT_EQ(memory_.live, 1) << "the memory lives while the recorder maps it";
  memory_.End(7);
  EXPECT_EQ(memory_.live, 0) << "and goes with it";
}

// Recorders that end while mapped: their views are dropped untouched the
// next time the block is mapped, so the table never fills with them.
TEST_F(Miniport, ViewsOfEndedProcessesDoNotFillTheTable) {
  QuarnWord surface[4] = {0, 0, 0, 4096};
  ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  for (int p = 10; p < 10 + 3 * QUARN_MINIPORT_VIEWS; ++p) {
    memory_.process = p;
    ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK) << "recorder " << p;
    memory_.End(p);
  }
  EXPECT_EQ(memory_.views, 0);
  // Processes that are alive each hold a place; one more than the table
  // holds is told so, and nothing of the others changes.
  for (int p = 40; p < 40 + QUARN_MINIPORT_VIEWS; ++p) {
    memory_.process = p;
    ASSERT_EQ(Request(kMap, surface), QUARN_MP_OK);
  }
  memory_.process = 60;
  EXPECT_EQ(Request(kMap, surface), static_cast<unsigned>(QUARN_MP_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(memory_.views, QUARN_MINIPORT_VIEWS);
  memory_.process = 1;
  ASSERT_EQ(Release(surface), QUARN_MP_OK);
  EXPECT_EQ(memory_.live, 1) << "the living processes' views keep the memory";
}

TEST_F(Miniport, AMappingTheSystemRefusesIsAnErrorStatus) {
  QuarnWord ring[4] = {0, 0, 0, 64};
  ASSERT_EQ(Request(kMap, ring), QUARN_MP_OK);
  memory_.refusals = 1;
  EXPECT_EQ(Request(kMap, ring), static_cast<unsigned>(QUARN_MP_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(ring[2], 0u) << "no address handed out";
  EXPECT_EQ(memory_.views, 0);
  ASSERT_EQ(Request(kMap, ring), QUARN_MP_OK) << "the next try maps";
  EXPECT_NE(ring[2], 0u);
  ASSERT_EQ(Release(ring), QUARN_MP_OK);
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
  QuarnWord flagged[4] = {5, ring[1], 0, 64};
  EXPECT_EQ(Request(kMap, flagged), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER)) << "word 0 is not 0";
  EXPECT_EQ(Request(kUnmap, flagged), static_cast<unsigned>(QUARN_MP_INVALID_PARAMETER)) << "neither unmap nor release";
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
