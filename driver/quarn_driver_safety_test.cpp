// What a process can do to the driver through the memory it maps and the
// escapes it sends: rewrite every word of the change ring, map and unmap
// in any order from several processes, die while mapped, or meet a system
// that refuses a mapping. None of it moves a store of the driver outside
// its own memory (AddressSanitizer watches every block), takes another
// process's view, or leaks a block.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/host/quarn_harness.h"

namespace kmr::quarn {
namespace {

uint32_t Load(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void Put(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Mapping {
  uint32_t user = 0, kernel = 0;
  ULONG result = 0;
};

Mapping Map(Harness& h, ULONG code, uint32_t capacity = 0) {
  uint8_t reply[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  Mapping m;
  m.result = code == QUARN_ESC_MAP_CHANGE_RING ? h.Escape(code, &capacity, 4, reply, 8) : h.Escape(code, nullptr, 0, reply, 8);
  m.user = quarn_mapping_reply_word(reply, 0);
  m.kernel = quarn_mapping_reply_word(reply, 1);
  return m;
}

// Every rectangle lands in slot (sequence mod the capacity the driver gave
// the ring), whatever the process wrote into the capacity and sequence
// words. The ring is 64 slots of heap memory: one store past it is a
// heap overflow.
TEST(QuarnDriverSafety, ARingRewrittenByTheProcessNeverMovesAStore) {
  Harness h(256, 128, 32);
  ASSERT_TRUE(h.ok());
  Map(h, QUARN_ESC_MAP_SURFACE);
  const Mapping ring = Map(h, QUARN_ESC_MAP_CHANGE_RING, 64);
  ASSERT_EQ(ring.result, 1u);
  uint8_t* view = static_cast<uint8_t*>(FakeMiniportPointer(ring.user));
  ASSERT_NE(view, nullptr);
  h.Escape(QUARN_ESC_ENABLE_TRACKING, nullptr, 0, nullptr, 0);
  const uint32_t capacities[] = {0, 1, 2, 63, 65, 8192, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
  const uint32_t sequences[] = {0, 1, 62, 63, 64, 0x20000000u, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu};
  LONG n = 0;
  for (uint32_t capacity : capacities) {
    for (uint32_t sequence : sequences) {
      Put(view, capacity);
      Put(view + 4, sequence);
      Put(view + 8, sequence ^ 0x55555555u);  // the read sequence too
      ++n;
      const LONG x = n % 200;
      h.Fill(RECTL{x, 1, x + 3, 9}, 0x00FF00);
      const uint32_t taken = sequence + 1;  // what the atomic add handed out
      EXPECT_EQ(Load(view + 4), taken);
      const uint8_t* slot = view + 12 + (taken % 64) * 16;
      EXPECT_EQ(static_cast<LONG>(Load(slot)), x) << "capacity word " << capacity << ", sequence word " << sequence;
      EXPECT_EQ(static_cast<LONG>(Load(slot + 8)), x + 3);
    }
  }
  // The process's words stay its own business; the reader in its own
  // process may be confused by them, the driver is not.
  EXPECT_EQ(Load(view), 0xFFFFFFFFu);
}

// Two processes map the surface and unmap it in every order: each keeps
// its own view until it unmaps, and an unmap from a process with no view
// (or a second one) never takes the memory the engine draws into.
TEST(QuarnDriverSafety, TwoProcessesEachKeepTheirOwnView) {
  Harness h(128, 64, 32);
  ASSERT_TRUE(h.ok());
  const ULONG blocks = FakeMiniportBlocks();
  for (int first = 1; first <= 2; ++first) {
    const int second = 3 - first;
    for (bool same_order : {true, false}) {
      FakeProcessEnter(first + 10);
      const Mapping a = Map(h, QUARN_ESC_MAP_SURFACE);
      FakeProcessEnter(second + 10);
      const Mapping b = Map(h, QUARN_ESC_MAP_SURFACE);
      ASSERT_EQ(a.result, 1u);
      ASSERT_EQ(b.result, 1u);
      EXPECT_NE(a.user, b.user);
      EXPECT_EQ(a.kernel, b.kernel);
      const int order[2] = {same_order ? first : second, same_order ? second : first};
      const uint32_t user[3] = {0, first == 1 ? a.user : b.user, first == 1 ? b.user : a.user};
      for (int k = 0; k < 2; ++k) {
        FakeProcessEnter(order[k] + 10);
        h.Escape(QUARN_ESC_UNMAP_SURFACE, nullptr, 0, nullptr, 0);
        h.Escape(QUARN_ESC_UNMAP_SURFACE, nullptr, 0, nullptr, 0);  // once too often
        EXPECT_EQ(FakeMiniportPointer(user[order[k]]), nullptr) << "process " << order[k] << " still has its view";
        if (k == 0) {
          FakeProcessEnter(order[1] + 10);
          uint8_t* other = static_cast<uint8_t*>(FakeMiniportPointer(user[order[1]]));
          ASSERT_NE(other, nullptr) << "process " << order[1] << " lost its view to the other's unmap";
          h.Fill(RECTL{0, 0, 4, 4}, 0xABCDEF);
          EXPECT_EQ(Load(other) & 0xFFFFFF, 0xABCDEFu);
        }
      }
      EXPECT_EQ(g_fake_wrong_context_unmaps, 0u);
      EXPECT_EQ(FakeMiniportBlocks(), blocks) << "an unmap released a block";
      h.Fill(RECTL{0, 0, 128, 64}, 0x123456);  // the surface is still the driver's
    }
  }
  FakeProcessEnter(1);
}

// A process that takes the ring from another: the first one's view is left
// to it (not unmapped from the second process), the driver writes only into
// the new ring, and the old ring's memory lives until its process lets go.
TEST(QuarnDriverSafety, ARingTakenOverIsLeftToTheProcessThatHadIt) {
  Harness h(128, 64, 32);
  ASSERT_TRUE(h.ok());
  FakeProcessEnter(21);
  const Mapping old_ring = Map(h, QUARN_ESC_MAP_CHANGE_RING, 16);
  h.Escape(QUARN_ESC_ENABLE_TRACKING, nullptr, 0, nullptr, 0);
  FakeProcessEnter(22);
  const ULONG memory = FakeLiveMemory();
  const Mapping new_ring = Map(h, QUARN_ESC_MAP_CHANGE_RING, 16);
  ASSERT_EQ(new_ring.result, 1u);
  EXPECT_EQ(FakeLiveMemory(), memory + 1) << "the old ring lives on for process 21";
  h.Fill(RECTL{1, 2, 3, 4}, 1);
  EXPECT_EQ(quarn_ring_write_sequence(static_cast<uint8_t*>(FakeMiniportPointer(new_ring.user))), 1u);
  FakeProcessEnter(21);
  uint8_t* old_view = static_cast<uint8_t*>(FakeMiniportPointer(old_ring.user));
  ASSERT_NE(old_view, nullptr);
  EXPECT_EQ(quarn_ring_write_sequence(old_view), 0u) << "nothing recorded into a ring the driver gave up";
  h.Escape(QUARN_ESC_UNMAP_CHANGE_RING, nullptr, 0, nullptr, 0);  // 21 has no ring now: nothing changes
  FakeProcessEnter(22);
  h.Fill(RECTL{1, 2, 3, 4}, 1);
  EXPECT_EQ(quarn_ring_write_sequence(static_cast<uint8_t*>(FakeMiniportPointer(new_ring.user))), 1u)
      << "process 21's unmap released process 22's ring";
  FakeProcessEnd(21);
  EXPECT_EQ(FakeLiveMemory(), memory) << "the old ring went with its process";
  EXPECT_EQ(g_fake_wrong_context_unmaps, 0u);
  FakeProcessEnter(1);
}

// Ten recorders die while mapped, on one device and across devices that
// are taken off the desktop and put back: the device maps again every
// time, and no block or memory is left behind.
TEST(QuarnDriverSafety, RecordersThatDieWhileMappedLeaveNothingBehind) {
  const ULONG memory = FakeLiveMemory();  // what earlier cases' processes still map
  {
    Harness h(320, 200, 32);
    ASSERT_TRUE(h.ok());
    for (int i = 0; i < 10; ++i) {
      FakeProcessEnter(100 + i);
      ASSERT_NE(h.Attach(1024), nullptr) << "recorder " << i;
      h.Fill(RECTL{i, i, i + 10, i + 10}, 0xFF);
      FakeProcessEnd(100 + i);
    }
    FakeProcessEnter(120);
    uint8_t* ring = h.Attach(1024);
    ASSERT_NE(ring, nullptr);
    h.Fill(RECTL{1, 1, 2, 2}, 0xFF);
    EXPECT_EQ(quarn_ring_write_sequence(ring), 1u);
    EXPECT_LE(FakeMiniportBlocks(), 2u) << "one surface and one ring at most";
    FakeProcessEnd(120);
    FakeProcessEnter(2);  // the system takes the device off the desktop
  }
  EXPECT_EQ(FakeMiniportBlocks(), 0u);
  EXPECT_EQ(FakeLiveMemory(), memory);
  for (int i = 0; i < 10; ++i) {
    {
      Harness h(320, 200, 32);
      ASSERT_TRUE(h.ok()) << "attach " << i;
      FakeProcessEnter(200 + i);
      ASSERT_NE(h.Attach(1024), nullptr);
      FakeProcessEnter(2);
    }
    EXPECT_EQ(FakeMiniportBlocks(), 0u) << "a dead recorder's view kept a block";
    EXPECT_EQ(FakeLiveMemory(), memory + 2) << "the recorder's views keep only what it maps: its surface and ring";
    FakeProcessEnd(200 + i);
    EXPECT_EQ(FakeLiveMemory(), memory);
  }
  EXPECT_EQ(g_fake_wrong_context_unmaps, 0u);
  FakeProcessEnter(1);
}

// A mapping the system refuses is an escape that fails with a zero reply;
// nothing is left half made and drawing goes on unharmed.
TEST(QuarnDriverSafety, AMappingTheSystemRefusesFailsTheEscape) {
  Harness h(64, 64, 32);
  ASSERT_TRUE(h.ok());
  const ULONG blocks = FakeMiniportBlocks();
  FakeRefuseMaps(1);
  Mapping m = Map(h, QUARN_ESC_MAP_SURFACE);
  EXPECT_EQ(m.result, 0u);
  EXPECT_EQ(m.user, 0u);
  EXPECT_EQ(m.kernel, 0u);
  FakeRefuseMaps(1);
  m = Map(h, QUARN_ESC_MAP_CHANGE_RING, 256);
  EXPECT_EQ(m.result, 0u);
  EXPECT_EQ(m.user, 0u);
  EXPECT_EQ(FakeMiniportBlocks(), blocks) << "the ring that could not be mapped was released";
  h.Escape(QUARN_ESC_ENABLE_TRACKING, nullptr, 0, nullptr, 0);
  h.Fill(RECTL{0, 0, 8, 8}, 7);  // no ring: nothing recorded, nothing touched
  m = Map(h, QUARN_ESC_MAP_CHANGE_RING, 256);
  EXPECT_EQ(m.result, 1u) << "the next try maps";
  EXPECT_NE(m.user, 0u);
}

// The mode comes from whoever changes the display settings: one whose
// surface would not fit the miniport's memory, or would wrap the size
// arithmetic, is refused before anything is laid out.
TEST(QuarnDriverSafety, AModeLargerThanTheMemoryIsRefused) {
  const struct {
    uint32_t width, height, bits;
  } refused[] = {{0x40000001u, 4, 32}, {16385, 16, 32}, {16, 16385, 8}, {16384, 16384, 32}, {8192, 4097, 32},
                 {0xFFFFFFFFu, 0xFFFFFFFFu, 24}};
  for (const auto& mode : refused) {
    Harness h(mode.width, mode.height, mode.bits);
    EXPECT_EQ(h.device(), nullptr) << mode.width << " x " << mode.height << " x " << mode.bits;
  }
  Harness h(8192, 4096, 32);  // exactly the largest block
  EXPECT_TRUE(h.ok());
}

}  // namespace
}  // namespace kmr::quarn
