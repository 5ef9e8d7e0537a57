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
// for each; `data` must hold kMaxRecordData bytes. A visitor that returns
// false ends the walk (kNone). `recordAt`, when given, holds the stream offset
// of the record being read, so a fault can say where it is.
template <class Visit>
RecordFault ForEachRecord(StreamReader& in, uint8_t* data, Visit visit,
                          uint64_t* recordAt = nullptr) {
  uint64_t position = 0;  // not advanced by the data a record writes
  for (;;) {
    if (recordAt) *recordAt = in.consumed();
    uint8_t field[8];
    if (in.Read(field, 1) != 1) return RecordFault::kTypeCut;
    switch (field[0]) {
      case kRecRelative:
        if (in.Read(field, 4) != 4) return RecordFault::kDistanceCut;
        position += Le32(field);  // below 2^63 before, so this cannot wrap
        break;
      case kRecAbsolute:
        if (in.Read(field, 8) != 8) return RecordFault::kPositionCut;
        position = Le64(field);
        break;
      case kRecEnd: return RecordFault::kNone;
      default: return RecordFault::kBadType;
    }
    if (in.Read(field, 2) != 2) return RecordFault::kLengthCut;
    uint32_t length = Le16(field);
    if (in.Read(data, length) != length) return RecordFault::kDataCut;
    if (position >= kUnreachable) return RecordFault::kUnreachable;
    if (!visit(position, static_cast<const uint8_t*>(data), length)) return RecordFault::kNone;
  }
}

}  // namespace zelp
