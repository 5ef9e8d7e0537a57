// The record stream parsed in one place: the checking and writing passes of
// the application procedure and the read-only checks of a patch all walk it
// through ForEachRecord.
#pragma once

#include <cstdint>

#include "engine/format.h"
#include "engine/stream_reader.h"

namespace zelp {

// Where a stream went wrong, in the order the fields are read.
enum class RecordFault {
  kNone,         // the end record was reached, or the visitor stopped the walk
  kTypeCut,      // no type byte
  kDistanceCut,  // a relative record's distance is cut short
  kPositionCut,  // an absolute record's position is cut short
  kBadType,      // a type that does not exist
  kLengthCut,    // the data length is cut short
  kDataCut,      // fewer data bytes than the length says
  kUnreachable,  // a record at 2^63 or more, where no file can be positioned
};

// Reads records until the end record, calling `visit(position, data, length)`
// for each (`data` in place in the stream's buffer, or copied into `data`,
// which must hold kMaxRecordData bytes). A visitor that returns
// false ends the walk (kNone). `recordAt`, when given, holds the stream offset
// of the record being read, so a fault can say where it is.
template <class Visit>
RecordFault ForEachRecord(StreamReader& in, uint8_t* data, Visit visit,
                          uint64_t* recordAt = nullptr) {
  uint64_t position = 0;  // not advanced by the data a record writes
  uint8_t spare[8];
  for (;;) {
    if (recordAt) *recordAt = in.consumed();
    const uint8_t* field = in.Take(1, spare);
    if (!field) return RecordFault::kTypeCut;
    switch (*field) {
      case kRecRelative:
        if (!(field = in.Take(4, spare))) return RecordFault::kDistanceCut;
        position += Le32(field);  // below 2^63 before, so this cannot wrap
        break;
      case kRecAbsolute:
        if (!(field = in.Take(8, spare))) return RecordFault::kPositionCut;
        position = Le64(field);
        break;
      case kRecEnd: return RecordFault::kNone;
      default: return RecordFault::kBadType;
    }
    if (!(field = in.Take(2, spare))) return RecordFault::kLengthCut;
    const uint32_t length = Le16(field);
    const uint8_t* bytes = in.Take(length, data);
    if (!bytes) return RecordFault::kDataCut;
    if (position >= kUnreachable) return RecordFault::kUnreachable;
    if (!visit(position, bytes, length)) return RecordFault::kNone;
  }
}

}  // namespace zelp
