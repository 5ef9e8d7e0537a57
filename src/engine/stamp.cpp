#include "engine/stamp.h"

namespace zelp {

namespace {

struct StampField {
  unsigned char marker[16];
  uint64_t offset;  // little-endian on every target we build for
};

// Written by `zelp pack` in the program file; never changed at run time.
// The marker is spelt out here (not copied from kStampMarker) so that the
// program holds its bytes exactly once.
volatile StampField g_stamp = {
    {'Z', 'E', 'L', 'P', '-', 'P', 'A', 'T', 'C', 'H', '-', 'A', 'T', 0x9E, 0x3C, 0xA7}, kNoPatch};

}  // namespace

uint64_t StampedPatchOffset() { return g_stamp.offset; }

}  // namespace zelp
