#include "tools/kmrtool/motion_estimator.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace kmr {

namespace {

// Polynomial hash of a byte run, so that a window can slide along a row.
constexpr uint64_t kBase = 1099511628211ull;

uint64_t Hash(const uint8_t* p, size_t n) {
  uint64_t h = 0;
  for (size_t i = 0; i < n; ++i) h = h * kBase + p[i] + 1;
  return h;
}

uint64_t Power(size_t n) {
  uint64_t r = 1;
  for (size_t i = 0; i < n; ++i) r *= kBase;
  return r;
}

// A probe is worth searching for only when it is not one flat colour.
bool Textured(const uint8_t* p, size_t n, uint32_t bpp) {
  for (size_t i = bpp; i < n; ++i) {
    if (p[i] != p[i % bpp]) return true;
  }
  return false;
}

}  // namespace

std::optional<Motion> MotionEstimator::Estimate(const PlaneView& before, const PlaneView& after,
                                                const std::vector<Rect>& changed) {
  if (changed.empty()) return std::nullopt;
  const uint32_t bpp = after.bytes_per_pixel;
  const size_t probe_bytes = static_cast<size_t>(kProbe) * bpp;
  Rect bounds = changed.front();
  for (const Rect& r : changed) {
    bounds = Rect{std::min(bounds.left, r.left), std::min(bounds.top, r.top), std::max(bounds.right, r.right),
                  std::max(bounds.bottom, r.bottom)};
  }
  if (bounds.Width() < kProbe * 2 || bounds.Height() < 8) return std::nullopt;

  // Probes: textured segments of changed rows, spread over the changed area.
  struct Probe {
    int32_t x, y;
    uint64_t hash;
  };
  constexpr size_t kMaxProbes = 96;
  std::vector<Probe> probes;
  const size_t step = std::max<size_t>(1, changed.size() / 32);
  for (size_t i = 0; i < changed.size() && probes.size() < kMaxProbes; i += step) {
    const Rect& r = changed[i];
    for (int32_t x = r.left; x + kProbe <= r.right && probes.size() < kMaxProbes; x += 2 * kProbe) {
      const uint8_t* p = after.At(x, r.top);
      if (Textured(p, probe_bytes, bpp)) probes.push_back({x, r.top, Hash(p, probe_bytes)});
    }
  }
  if (probes.size() < static_cast<size_t>(kMinVotes)) return std::nullopt;

  // Where those segments were in the previous picture, around the changed
  // area: one sliding hash along each row. A segment found more than once (a
  // repeating pattern) says nothing about the movement.
  table_.clear();
  for (const Probe& p : probes) table_[p.hash];
  const Rect search = Intersect(
      Rect{bounds.left - kSearch, bounds.top - kSearch, bounds.right + kSearch, bounds.bottom + kSearch},
      Rect{0, 0, before.width, before.height});
  const uint64_t out_power = Power(probe_bytes - 1);
  for (int32_t y = search.top; y < search.bottom; ++y) {
    if (search.Width() < kProbe) break;
    const uint8_t* row = before.At(search.left, y);
    uint64_t h = Hash(row, probe_bytes);
    for (int32_t x = search.left;; ++x) {
      auto it = table_.find(h);
      if (it != table_.end() && it->second.size() < 2) {
        it->second.push_back(static_cast<uint32_t>(y) << 16 | static_cast<uint32_t>(x));
      }
      if (x + kProbe >= search.right) break;
      const uint8_t* p = row + static_cast<size_t>(x - search.left) * bpp;
      for (uint32_t b = 0; b < bpp; ++b) h = (h - (p[b] + 1ull) * out_power) * kBase + p[probe_bytes + b] + 1;
    }
  }
  std::map<std::pair<int32_t, int32_t>, int> votes;
  for (const Probe& p : probes) {
    const auto& where = table_[p.hash];
    if (where.size() != 1) continue;
    const int32_t ox = static_cast<int32_t>(where[0] & 0xFFFF), oy = static_cast<int32_t>(where[0] >> 16);
    if (ox == p.x && oy == p.y) continue;  // not a move
    ++votes[{p.x - ox, p.y - oy}];
  }
  std::pair<int32_t, int32_t> best{0, 0};
  int best_votes = 0;
  for (const auto& [v, n] : votes) {
    if (n > best_votes) {
      best = v;
      best_votes = n;
    }
  }
  if (best_votes < kMinVotes) return std::nullopt;

  // The moved block: the parts of changed rows that equal the previous
  // picture shifted, in runs long enough not to be chance.
  Motion m{best.first, best.second, Rect{}};
  bool any = false;
  for (const Rect& r : changed) {
    const int32_t sy = r.top - m.dy;
    if (sy < 0 || sy >= before.height) continue;
    int32_t run_start = -1;
    for (int32_t x = r.left; x <= r.right; ++x) {
      const int32_t sx = x - m.dx;
      const bool same = x < r.right && sx >= 0 && sx < before.width &&
                        std::memcmp(after.At(x, r.top), before.At(sx, sy), bpp) == 0;
      if (same && run_start < 0) run_start = x;
      if (!same && run_start >= 0) {
        if (x - run_start >= kProbe) {
          const Rect part{run_start, r.top, x, r.bottom};
          m.window = any ? Rect{std::min(m.window.left, part.left), std::min(m.window.top, part.top),
                                std::max(m.window.right, part.right), std::max(m.window.bottom, part.bottom)}
                         : part;
          any = true;
        }
        run_start = -1;
      }
    }
  }
  if (!any) return std::nullopt;
  return m;
}

}  // namespace kmr
