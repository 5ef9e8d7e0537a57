// Why a target would be refused, and whether a patch's record stream is
// whole: read-only checks that every front end (zelp, a browser page) shares,
// so that each gives the same answer. No I/O beyond the file interface.
#pragma once

#include <cstdint>

#include "engine/outcome.h"
#include "file/xfile.h"

namespace zelp {

struct ForeignInfo;

struct StreamCheck {
  Outcome damage = Outcome::kOk;  // what applying the patch would report, or kOk
  int64_t at = 0;                 // the patch file offset where the damage was found
  uint64_t records = 0;           // records read before it (all of them when whole)
  int64_t targetSize = 0;         // from the header
  uint32_t targetCrc = 0;         // from the header; 0 checks nothing
  int64_t extent = 0;             // the end of the farthest record that writes a byte
  int64_t fileSize = 0;           // of the file that holds the patch
};

// Reads the header and walks the whole record stream of the patch that starts
// at `patchBase`, as applying it would, without a target.
StreamCheck CheckPatch(CKOVA_xFile& patch, uint64_t patchBase);

enum class Verdict {
  kMatches,              // the CRC-32 is the expected one, or the patch checks none
  kAlreadyPatched,       // the target already holds everything the patch writes
  kCopierHeader,         // the expected file behind a 512-byte header
  kPatchedBehindHeader,  // already patched, behind a 512-byte header
  kOtherFile,            // none of the above
  kBadPatch,             // the patch itself is damaged (see `patch`)
  kUnreadable,           // the target cannot be read
};

struct Diagnosis {
  Verdict verdict = Verdict::kBadPatch;
  StreamCheck patch;
  uint32_t expectedCrc = 0;  // 0: the patch checks no CRC
  int64_t patchedSize = 0;   // the size of a patched file
  uint32_t targetCrc = 0;    // the whole target's CRC-32
  int64_t targetSize = 0;
  uint32_t headerlessCrc = 0;  // CRC-32 of the target after its first 512 bytes
};

constexpr int64_t kCopierHeaderSize = 512;

// Tells which verdict holds for `target` and the patch at `patchBase` in
// `patch`. Both files are only read.
Diagnosis Diagnose(CKOVA_xFile& patch, CKOVA_xFile& target, uint64_t patchBase);

// The same verdicts for an IPS, UPS or BPS patch that InspectForeign found
// whole: UPS and BPS name the size and CRC-32 of the file they take and of
// the file they make; an IPS checks nothing, so any file matches.
Diagnosis DiagnoseForeign(const ForeignInfo& info, CKOVA_xFile& target);

}  // namespace zelp
