// Setting the stamped patch offset in a program file (the field is described
// in engine/stamp.h, found by engine/patch_base.h).
#pragma once

#include <cstdint>
#include <string>

#include "common/words.h"
#include "engine/patch_base.h"
#include "file/xfile.h"

namespace zelp::author {

// True when the first `imageSize` bytes hold the dialog program's own mark
// (ui/dialog_mark.h): only the dialog program may carry a patch.
bool HasDialogMark(CKOVA_xFile& file, int64_t imageSize, bool& readFailed);

// Copies the program image of `stub` (located by LocateStamp) to `out` at its
// current position, with the field set to the image's length: the offset at
// which a patch appended right after it begins. False on a read or write
// failure (`readFailed` tells which).
bool WriteStampedImage(CKOVA_xFile& stub, const StampInfo& info, CKOVA_xFile& out,
                       bool& readFailed);

// Checks that `stub` is the dialog program (its stamp found once, its mark
// present) and copies its image, stamped, to `out`: zelp create --stub, zelp
// pack and the page. On failure `error` says why, naming it `name`.
bool CopyStub(CKOVA_xFile& stub, const Bilingual& name, CKOVA_xFile& out, StampInfo& stamp,
              Bilingual& error);

}  // namespace zelp::author
