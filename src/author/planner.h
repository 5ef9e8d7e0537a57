// Chooses the records of a patch: the smallest set of records that writes
// every changed byte of the target.
//
// A record costs its data plus 7 bytes of type, distance and length when its
// start lies at most `maxRelative` bytes after the previous record's start
// (the first record counts from 0), and 11 bytes otherwise. A record may
// cover unchanged bytes (it writes them back unchanged), which pays when the
// gap between two changed runs is shorter than a new record's overhead, and
// its data is at most `maxData` bytes.
//
// The planner is a dynamic programme over byte positions. With F(x) the
// least cost of covering every change before x by records that end at or
// before x, and G(x) = F(x) - x:
//   - x - 1 unchanged:  G(x) = G(x - 1) - 1   (nothing to cover)
//   - x - 1 changed:    G(x) = 7 + min G(a) over a in [x - maxData, x - 1]
// evaluated with a monotone queue of candidate record starts. Inside a changed
// run G is constant until the queue's minimum leaves the window, so a run is
// handled in steps of up to maxData bytes, not byte by byte. A gap of 7 or
// more unchanged bytes is never worth covering, so the runs fall into
// independent clusters; at a cluster boundary the start of the next record
// is chosen together with the previous cluster's last start, because only
// there can the distance between two record starts exceed 32 bits.
//
// Decisions are kept as a tree of candidate record starts (each knows the
// record before it). Whenever every live candidate descends from one node,
// the records up to that node are final and are handed to the sink, so
// memory stays bounded by the live part of the tree, not by the file size.
// Should that part ever exceed `maxLiveNodes`, the planner keeps only its
// best candidate and cuts there, giving up at most a few bytes of the
// minimum for a bounded memory; ForcedCuts() counts how often that happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "engine/format.h"

namespace zelp::author {

constexpr uint32_t kRelativeOverhead = 7;   // type, 32-bit distance, length
constexpr uint32_t kAbsoluteOverhead = 11;  // type, 64-bit position, length

// The format's limits; tests shrink them to search small cases exhaustively.
// maxRelative must be at least maxData + 6, so that only a gap of unchanged
// bytes can put two record starts too far apart (always true for the real
// limits).
struct RecordLimits {
  uint64_t maxData = kMaxRecordData;     // data bytes in one record
  uint64_t maxRelative = 0xFFFFFFFFull;  // largest distance a relative record can carry
};

// Receives the chosen records in increasing order of start; false stops the
// planner (a write failed).
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual bool OnRecord(uint64_t start, uint64_t length) = 0;
};

class RecordPlanner {
 public:
  explicit RecordPlanner(RecordSink& sink, RecordLimits limits = {},
                         size_t maxLiveNodes = size_t{1} << 21);

  // Adds the changed run [start, start + length): runs come in increasing
  // order, with at least one unchanged byte between them. False once the
  // sink has refused a record.
  bool AddRun(uint64_t start, uint64_t length);
  // Chooses the last records and hands every remaining one to the sink.
  bool Finish();

  uint64_t ForcedCuts() const { return forcedCuts_; }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  // A candidate record start and the record before it.
  struct Node {
    int64_t pos;      // where this record starts
    int64_t prevEnd;  // where the previous record ends
    uint32_t prev;    // the node of the previous record's start, or kNone
    bool origin;      // the position before the first record (writes nothing)
  };
  struct Candidate {
    int64_t pos;
    int64_t g;  // G(pos)
    uint32_t node;
  };

  uint32_t NewNode(int64_t pos, int64_t prevEnd, uint32_t prev, bool origin = false);
  void Push(int64_t pos, int64_t g, uint32_t node);
  void Expire(int64_t before);
  void StartCluster(int64_t q);
  bool MaybeCollect();
  // Emits the records every live candidate agrees on and drops dead nodes.
  bool Collect(uint32_t extraSource);

  RecordSink& sink_;
  RecordLimits limits_;
  size_t maxLive_;
  std::vector<Node> nodes_;
  std::deque<Candidate> queue_;
  bool started_ = false;
  bool failed_ = false;
  bool forceBoundary_ = false;
  int64_t lastEnd_ = 0;       // end of the last run added
  int64_t endG_ = 0;          // G at lastEnd_
  uint32_t endPrev_ = kNone;  // start of the record that ends at lastEnd_
  size_t nextCollect_ = 0;
  uint64_t forcedCuts_ = 0;
};

}  // namespace zelp::author
