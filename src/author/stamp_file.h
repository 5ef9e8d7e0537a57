// Setting the stamped patch offset in a program file (the field is described
// in engine/stamp.h, found by engine/patch_base.h).
#pragma once

#include <cstdint>

#include "engine/patch_base.h"
#include "file/xfile.h"

namespace zelp::author {

// Copies the program image of `stub` (located by LocateStamp) to `out` at its
// current position, with the field set to the image's length: the offset at
// which a patch appended right after it begins. False on a read or write
// failure (`readFailed` tells which).
bool WriteStampedImage(CKOVA_xFile& stub, const StampInfo& info, CKOVA_xFile& out,
                       bool& readFailed);

}  // namespace zelp::author
