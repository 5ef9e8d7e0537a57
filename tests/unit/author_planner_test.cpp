// The record planner against an exhaustive search: on small inputs, with the
// format's limits shrunk so that record splitting and absolute records show
// up, no set of records is smaller than the one the planner chooses.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "author/planner.h"

using zelp::author::RecordLimits;
using zelp::author::RecordPlanner;
using zelp::author::RecordSink;

namespace {

struct Rec {
  int64_t start, length;
};

class Collect : public RecordSink {
 public:
  bool OnRecord(uint64_t start, uint64_t length) override {
    recs.push_back({static_cast<int64_t>(start), static_cast<int64_t>(length)});
    return true;
  }
  std::vector<Rec> recs;
};

// The size of a record stream (end record included), with the type of each
// record decided by the distance from the previous record's start.
int64_t StreamSize(const std::vector<Rec>& recs, const RecordLimits& lim) {
  int64_t size = 1, prev = 0;
  for (const Rec& r : recs) {
    uint64_t distance = static_cast<uint64_t>(r.start - prev);
    size += r.length + (distance <= lim.maxRelative ? 7 : 11);
    prev = r.start;
  }
  return size;
}

// The smallest stream over every sorted sequence of disjoint records (of any
// length from 0 to maxData, anywhere inside [0, n)) that covers every changed
// byte; memoised on (covered up to, previous start).
class Exhaustive {
 public:
  Exhaustive(const std::vector<bool>& changed, RecordLimits lim) : changed_(changed), lim_(lim) {}
  int64_t Best() { return Search(0, -1); }

 private:
  int64_t Search(int64_t covered, int64_t prev) {
    const int64_t n = static_cast<int64_t>(changed_.size());
    int64_t c = covered;
    while (c < n && !changed_[c]) ++c;
    if (c == n) return 1;
    auto key = std::make_pair(covered, prev);
    if (auto it = memo_.find(key); it != memo_.end()) return it->second;
    int64_t best = INT64_MAX;
    for (int64_t a = std::max(covered, prev + 1); a <= c; ++a) {
      uint64_t distance = static_cast<uint64_t>(a - std::max<int64_t>(prev, 0));
      int64_t overhead = distance <= lim_.maxRelative ? 7 : 11;
      int64_t last = std::min<int64_t>(a + static_cast<int64_t>(lim_.maxData), n);
      for (int64_t e = a; e <= last; ++e) {
        int64_t rest = Search(std::max(covered, e), a);
        if (rest != INT64_MAX) best = std::min(best, (e - a) + overhead + rest);
      }
    }
    memo_[key] = best;
    return best;
  }
  std::vector<bool> changed_;
  RecordLimits lim_;
  std::map<std::pair<int64_t, int64_t>, int64_t> memo_;
};

std::vector<Rec> Plan(const std::vector<bool>& changed, RecordLimits lim, size_t maxLive = 1 << 21,
                      uint64_t* forcedCuts = nullptr) {
  Collect sink;
  RecordPlanner planner(sink, lim, maxLive);
  for (size_t i = 0; i < changed.size();) {
    if (!changed[i]) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < changed.size() && changed[j]) ++j;
    EXPECT_TRUE(planner.AddRun(i, j - i));
    i = j;
  }
  EXPECT_TRUE(planner.Finish());
  if (forcedCuts) *forcedCuts = planner.ForcedCuts();
  return sink.recs;
}

// Records are sorted, disjoint, inside [0, n), no longer than maxData, and
// cover every change.
void ExpectValid(const std::vector<Rec>& recs, const std::vector<bool>& changed,
                 const RecordLimits& lim, const std::string& what) {
  std::vector<bool> covered(changed.size(), false);
  int64_t prevEnd = 0;
  for (const Rec& r : recs) {
    ASSERT_GE(r.start, prevEnd) << what;
    ASSERT_GE(r.length, 1) << what;
    ASSERT_LE(r.length, static_cast<int64_t>(lim.maxData)) << what;
    ASSERT_LE(r.start + r.length, static_cast<int64_t>(changed.size())) << what;
    for (int64_t i = r.start; i < r.start + r.length; ++i) covered[i] = true;
    prevEnd = r.start + r.length;
  }
  for (size_t i = 0; i < changed.size(); ++i)
    ASSERT_TRUE(!changed[i] || covered[i]) << what << " byte " << i;
}

std::string Show(const std::vector<bool>& changed, const RecordLimits& lim) {
  std::string s =
      "L=" + std::to_string(lim.maxData) + " R=" + std::to_string(lim.maxRelative) + " ";
  for (bool b : changed) s += b ? 'x' : '.';
  return s;
}

}  // namespace

TEST(Planner, MatchesExhaustiveSearchOnRandomPatterns) {
  std::mt19937 rng(12345);
  const uint64_t datas[] = {1, 2, 3, 4, 5, 8};
  int cases = 0;
  for (uint64_t maxData : datas) {
    const uint64_t rels[] = {maxData + 6, maxData + 7, maxData + 9, 2 * maxData + 12, 1000};
    for (uint64_t maxRel : rels) {
      RecordLimits lim{maxData, maxRel};
      for (int iter = 0; iter < 250; ++iter) {
        size_t n = rng() % 40;
        // Mix dense and sparse patterns so that gaps of every length show up.
        unsigned density = 1 + rng() % 7;
        std::vector<bool> changed(n);
        for (size_t i = 0; i < n; ++i) changed[i] = rng() % 8 < density;
        auto recs = Plan(changed, lim);
        std::string what = Show(changed, lim);
        ExpectValid(recs, changed, lim, what);
        EXPECT_EQ(Exhaustive(changed, lim).Best(), StreamSize(recs, lim)) << what;
        ++cases;
      }
    }
  }
  EXPECT_EQ(cases, 6 * 5 * 250);
}

TEST(Planner, MatchesExhaustiveSearchOnEveryShortPattern) {
  // Every pattern of up to 12 bytes, under limits where merging, splitting
  // and absolute records all matter.
  const RecordLimits lims[] = {{3, 9}, {5, 11}, {65535, 0xFFFFFFFFull}};
  for (const RecordLimits& lim : lims) {
    for (size_t n = 0; n <= 12; ++n) {
      for (uint32_t bits = 0; bits < (1u << n); ++bits) {
        std::vector<bool> changed(n);
        for (size_t i = 0; i < n; ++i) changed[i] = bits >> i & 1;
        auto recs = Plan(changed, lim);
        std::string what = Show(changed, lim);
        ExpectValid(recs, changed, lim, what);
        ASSERT_EQ(Exhaustive(changed, lim).Best(), StreamSize(recs, lim)) << what;
      }
    }
  }
}

TEST(Planner, GapsAroundTheMergeThreshold) {
  // Two runs of 3 changed bytes with a gap of g: one record of 6 + g data
  // bytes while g < 7, two records from g = 7 on (at 7 both cost the same).
  for (int64_t g = 0; g <= 12; ++g) {
    std::vector<bool> changed(3 + g + 3, false);
    for (int i = 0; i < 3; ++i) changed[i] = changed[3 + g + i] = true;
    auto recs = Plan(changed, {});
    int64_t expected = g < 7 ? 1 + 7 + 6 + g : 1 + 2 * (7 + 3);
    EXPECT_EQ(expected, StreamSize(recs, {})) << "gap " << g;
    EXPECT_EQ(g < 7 ? 1u : 2u, recs.size()) << "gap " << g;
  }
}

TEST(Planner, LongRunSplitsAtTheDataLimit) {
  Collect sink;
  RecordPlanner planner(sink);
  ASSERT_TRUE(planner.AddRun(10, 3 * 65535 + 5));
  ASSERT_TRUE(planner.Finish());
  ASSERT_EQ(4u, sink.recs.size());
  int64_t total = 0;
  for (const Rec& r : sink.recs) {
    total += r.length;
    EXPECT_LE(r.length, 65535);
  }
  EXPECT_EQ(3 * 65535 + 5, total);
  EXPECT_EQ(10, sink.recs[0].start);
}

TEST(Planner, FarChangesUseTheCheapestRecordType) {
  // With the real limits: a change 2^32 + 1 bytes after the first record's
  // start is cheaper to reach by starting 2 unchanged bytes early (a relative
  // record) than by an absolute record.
  const int64_t r = int64_t{1} << 32;
  struct Case {
    int64_t second;     // position of the second one-byte change
    int64_t wantStart;  // where its record starts
    int64_t wantSize;   // stream size
  } cases[] = {
      {r - 1, r - 1, 1 + 8 + 8},       // the distance fits exactly
      {r + 1, r - 1, 1 + 8 + 7 + 3},   // start 2 unchanged bytes early, stay relative
      {r + 2, r - 1, 1 + 8 + 7 + 4},   // 3 early still saves a byte
      {r + 3, r + 3, 1 + 8 + 11 + 1},  // 4 early would cost as much: absolute
      {5 * r, 5 * r, 1 + 8 + 11 + 1},
  };
  for (const Case& c : cases) {
    Collect sink;
    RecordPlanner planner(sink);
    ASSERT_TRUE(planner.AddRun(0, 1));
    ASSERT_TRUE(planner.AddRun(static_cast<uint64_t>(c.second), 1));
    ASSERT_TRUE(planner.Finish());
    ASSERT_EQ(2u, sink.recs.size());
    EXPECT_EQ(c.wantStart, sink.recs[1].start) << c.second;
    EXPECT_EQ(c.wantSize, StreamSize(sink.recs, {})) << c.second;
  }
}

TEST(Planner, BoundedMemoryStillCoversEveryChange) {
  // A tiny node budget forces cuts; the records stay valid and close to the
  // minimum.
  std::mt19937 rng(7);
  RecordLimits lim{4, 10};
  uint64_t forced = 0;
  for (int iter = 0; iter < 100; ++iter) {
    std::vector<bool> changed(100 + rng() % 100);
    for (size_t i = 0; i < changed.size(); ++i) changed[i] = rng() % 3 != 0;
    uint64_t cuts = 0;
    auto recs = Plan(changed, lim, 16, &cuts);
    forced += cuts;
    ExpectValid(recs, changed, lim, Show(changed, lim));
    int64_t best = Exhaustive(changed, lim).Best();
    EXPECT_GE(StreamSize(recs, lim), best);
    EXPECT_LE(StreamSize(recs, lim), best + 8 * static_cast<int64_t>(cuts)) << Show(changed, lim);
  }
  EXPECT_GT(forced, 0u);
}

TEST(Planner, MatchesAByteByByteProgrammeOnLongerInputs) {
  // Longer inputs with runs around and beyond the data limit, against the
  // plain O(n * maxData) programme over every byte position (distances all
  // fit here, so every record is relative).
  std::mt19937 rng(77);
  for (int iter = 0; iter < 40; ++iter) {
    const uint64_t maxData = 20 + rng() % 300;
    RecordLimits lim{maxData, 1u << 30};
    std::vector<bool> changed;
    while (changed.size() < 20000) {
      size_t run = rng() % 4 == 0 ? maxData - 3 + rng() % 7 : 1 + rng() % (3 * maxData);
      size_t gap = rng() % 3 == 0 ? rng() % 12 : 1 + rng() % 4;
      changed.insert(changed.end(), run, true);
      changed.insert(changed.end(), gap, false);
    }
    const int64_t n = static_cast<int64_t>(changed.size()), l = static_cast<int64_t>(maxData);
    std::vector<int64_t> f(n + 1, 0);
    for (int64_t x = 1; x <= n; ++x) {
      if (!changed[x - 1]) {
        f[x] = f[x - 1];
        continue;
      }
      f[x] = INT64_MAX;
      for (int64_t a = std::max<int64_t>(0, x - l); a < x; ++a)
        f[x] = std::min(f[x], f[a] + (x - a) + 7);
    }
    auto recs = Plan(changed, lim);
    ExpectValid(recs, changed, lim, "iteration " + std::to_string(iter));
    EXPECT_EQ(f[n] + 1, StreamSize(recs, lim)) << "iteration " << iter;
  }
}
