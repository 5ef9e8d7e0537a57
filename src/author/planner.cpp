#include "author/planner.h"

#include <algorithm>

namespace zelp::author {

namespace {
constexpr int64_t kPenalty = kAbsoluteOverhead - kRelativeOverhead;
constexpr size_t kCollectAtLeast = 4096;  // nodes between two collections
}  // namespace

RecordPlanner::RecordPlanner(RecordSink& sink, RecordLimits limits, size_t maxLiveNodes)
    : sink_(sink), limits_(limits), maxLive_(maxLiveNodes < 16 ? 16 : maxLiveNodes) {
  if (limits_.maxData == 0) limits_.maxData = 1;
  nextCollect_ = std::min<size_t>(kCollectAtLeast, maxLive_);
  NewNode(0, 0, kNone, true);  // the position every application starts from
}

uint32_t RecordPlanner::NewNode(int64_t pos, int64_t prevEnd, uint32_t prev, bool origin) {
  nodes_.push_back(Node{pos, prevEnd, prev, origin});
  return static_cast<uint32_t>(nodes_.size() - 1);
}

// Keeps G strictly increasing from front to back: a later start with a G no
// larger is as cheap and stays usable longer.
void RecordPlanner::Push(int64_t pos, int64_t g, uint32_t node) {
  while (!queue_.empty() && queue_.back().g >= g) queue_.pop_back();
  queue_.push_back(Candidate{pos, g, node});
}

void RecordPlanner::Expire(int64_t before) {
  while (!queue_.empty() && queue_.front().pos < before) queue_.pop_front();
}

// A new cluster begins with the change at q. Its first record starts at q,
// or up to 3 bytes earlier when that brings it within a relative distance
// of the previous record's start (3 unchanged bytes cost less than the 4
// bytes an absolute record adds). Each possible start takes the cheapest
// last record of the previous cluster, penalty included.
void RecordPlanner::StartCluster(int64_t q) {
  struct Prior {
    int64_t pos, cost;
    uint32_t node;
  };
  std::vector<Prior> priors;
  int64_t end;
  if (!started_) {
    priors.push_back(Prior{0, 0, 0});
    end = 0;
  } else {
    end = lastEnd_;
    Expire(end - static_cast<int64_t>(limits_.maxData));
    for (const Candidate& c : queue_)
      priors.push_back(Prior{c.pos, c.g + end + kRelativeOverhead, c.node});
    queue_.clear();
  }
  endPrev_ = kNone;
  for (int64_t x = std::max(end, q - (kPenalty - 1)); x <= q; ++x) {
    const Prior* best = nullptr;
    int64_t bestCost = 0;
    for (const Prior& p : priors) {
      int64_t cost = p.cost;
      if (static_cast<uint64_t>(x - p.pos) > limits_.maxRelative) cost += kPenalty;
      if (!best || cost < bestCost) best = &p, bestCost = cost;
    }
    Push(x, bestCost - x, NewNode(x, end, best->node));
  }
}

bool RecordPlanner::AddRun(uint64_t start, uint64_t length) {
  if (failed_) return false;
  if (length == 0) return true;
  const int64_t s = static_cast<int64_t>(start);
  const int64_t t = s + static_cast<int64_t>(length);
  const int64_t maxData = static_cast<int64_t>(limits_.maxData);
  int64_t gap = s - lastEnd_;
  if (!started_ || forceBoundary_ || gap >= static_cast<int64_t>(kRelativeOverhead)) {
    // Covering 7 or more unchanged bytes never beats starting a new record.
    StartCluster(s);
    started_ = true;
    forceBoundary_ = false;
  } else {
    // A short gap: the run may share a record with what came before; s is
    // the best start within the gap.
    Push(s, endG_ - gap, NewNode(s, lastEnd_, endPrev_));
  }
  // Through the run: G is 7 above the queue's minimum, constant until that
  // minimum leaves the window. Only the last position of each stretch is
  // kept as a candidate start (the others have the same G and expire
  // sooner).
  int64_t b = s + 1;
  for (;;) {
    Expire(b - maxData);
    const Candidate f = queue_.front();
    const int64_t v = f.g + kRelativeOverhead;
    const int64_t e = std::min(t, f.pos + maxData);
    if (e < t) {
      Push(e, v, NewNode(e, e, f.node));
      b = e + 1;
      if (!MaybeCollect()) return false;
      continue;
    }
    if (t - 1 >= b) Push(t - 1, v, NewNode(t - 1, t - 1, f.node));
    endG_ = v;
    endPrev_ = f.node;
    break;
  }
  lastEnd_ = t;
  return MaybeCollect();
}

bool RecordPlanner::Finish() {
  if (failed_) return false;
  if (!started_) return true;
  Expire(lastEnd_ - static_cast<int64_t>(limits_.maxData));
  // The last record runs from the cheapest start to the end of the last run.
  uint32_t last = NewNode(lastEnd_, lastEnd_, queue_.front().node);
  queue_.clear();
  endPrev_ = kNone;
  return Collect(last);
}

bool RecordPlanner::MaybeCollect() {
  if (nodes_.size() < nextCollect_) return true;
  if (!Collect(kNone)) return false;
  if (nodes_.size() > maxLive_) {
    // The candidates disagree over too long a stretch: keep the newest one
    // (valid longest) and cut there.
    Candidate keep = queue_.back();
    queue_.clear();
    queue_.push_back(keep);
    endPrev_ = kNone;
    forceBoundary_ = true;
    ++forcedCuts_;
    if (!Collect(kNone)) return false;
  }
  nextCollect_ = std::max(std::min<size_t>(kCollectAtLeast, maxLive_), 2 * nodes_.size());
  return true;
}

bool RecordPlanner::Collect(uint32_t extraSource) {
  const size_t n = nodes_.size();
  // count[i]: how many live candidates have node i on their chain.
  std::vector<uint32_t> count(n, 0);
  uint32_t sources = 0;
  auto addSource = [&](uint32_t i) {
    if (i != kNone) ++count[i], ++sources;
  };
  for (const Candidate& c : queue_) addSource(c.node);
  addSource(endPrev_);
  addSource(extraSource);
  if (sources == 0) return true;
  // Nodes only point to older nodes, so one backward sweep adds up the counts.
  for (size_t i = n; i-- > 0;)
    if (count[i] && nodes_[i].prev != kNone) count[nodes_[i].prev] += count[i];
  size_t common = 0;  // the newest node on every chain
  for (size_t i = n; i-- > 0;) {
    if (count[i] == sources) {
      common = i;
      break;
    }
  }
  // Every record from the root up to `common` is settled.
  std::vector<uint32_t> chain;
  for (uint32_t i = static_cast<uint32_t>(common);; i = nodes_[i].prev) {
    chain.push_back(i);
    if (nodes_[i].prev == kNone) break;
  }
  std::reverse(chain.begin(), chain.end());
  for (size_t j = 0; j + 1 < chain.size(); ++j) {
    const Node& a = nodes_[chain[j]];
    if (a.origin) continue;
    int64_t end = nodes_[chain[j + 1]].prevEnd;
    if (!sink_.OnRecord(static_cast<uint64_t>(a.pos), static_cast<uint64_t>(end - a.pos))) {
      failed_ = true;
      return false;
    }
  }
  // Keep `common` (as the new root) and its live descendants.
  std::vector<uint32_t> map(n, kNone);
  std::vector<Node> kept;
  for (size_t i = common; i < n; ++i) {
    if (!count[i]) continue;
    Node node = nodes_[i];
    node.prev = i == common ? kNone : map[node.prev];
    map[i] = static_cast<uint32_t>(kept.size());
    kept.push_back(node);
  }
  nodes_.swap(kept);
  for (Candidate& c : queue_) c.node = map[c.node];
  if (endPrev_ != kNone) endPrev_ = map[endPrev_];
  return true;
}

}  // namespace zelp::author
