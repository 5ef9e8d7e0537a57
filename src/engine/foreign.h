// Patches in the formats that ROM hacks are published in (IPS, UPS, BPS):
// recognised by their magic, checked whole before any use, and applied by
// writing the result into a new file as a stream, so that memory stays
// bounded for files of any size.
//
// IPS: "PATCH", records of a 3-byte big-endian offset, a 2-byte big-endian
// length and the data (length 0: a run, 2-byte count and 1 value byte),
// "EOF", optionally a 3-byte size the result is cut to.
// UPS: "UPS1", source and target sizes, hunks (a skip, then bytes XORed
// with the source up to and including a zero byte), then the source, target
// and patch CRC-32s.
// BPS: "BPS1", source, target and metadata sizes, the metadata, actions
// (source read, target read, source copy, target copy), then the source,
// target and patch CRC-32s.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file/xfile.h"

namespace zelp {

enum class PatchKind { kUnknown, kZelp, kIps, kUps, kBps };

// The kind of the patch at the start of `file`, by its first bytes.
PatchKind SniffPatch(CKOVA_xFile& file);
// "IPS", "UPS", "BPS", "ZELP".
const char16_t* KindName(PatchKind kind);

enum class ForeignFault {
  kNone,
  kRead,        // the patch cannot be read
  kMagic,       // it does not start with its format's magic
  kCutShort,    // it ends inside a record, a hunk or an action, or before its end
  kNumber,      // a variable-length number that does not fit 64 bits
  kPatchCrc,    // its own CRC-32 does not match its bytes
  kOutside,     // a step reads or writes outside the source or the target
  kTrailing,    // IPS: bytes after "EOF" that are no size
  kChanged,     // the patch was changed between its check and its use
  kSourceSize,  // UPS, BPS: the file to patch has another size than the patch names
  kSourceRead,  // the file to patch cannot be read
  kWrite,       // the result cannot be written
  kResultCrc,   // the result does not have the CRC-32 the patch promises
};

constexpr int64_t kIpsLimit = 1 << 24;      // IPS offsets are 3 bytes
constexpr uint32_t kIpsEofMark = 0x454F46;  // "EOF" read as an offset
constexpr size_t kMaxMetadataKept = 65536;

struct ForeignInfo {
  PatchKind kind = PatchKind::kUnknown;
  ForeignFault fault = ForeignFault::kNone;
  int64_t at = 0;  // the patch offset where the fault was found
  int64_t patchSize = 0;
  uint64_t steps = 0;         // records, hunks or actions
  uint32_t wholeCrc = 0;      // the CRC-32 of the whole patch as checked
  bool checksSource = false;  // UPS, BPS: the sizes and CRC-32s below are known
  uint64_t sourceSize = 0, targetSize = 0;
  uint32_t sourceCrc = 0, targetCrc = 0;
  uint64_t metadataSize = 0;  // BPS
  std::string metadata;       // its first kMaxMetadataKept bytes
  int64_t extent = 0;         // IPS: the end of the farthest record
  int64_t cutTo = -1;         // IPS: the size after "EOF", -1 when none
};

// Reads the whole patch at the start of `patch` (of `kind`), as applying it
// would, without a source.
ForeignInfo InspectForeign(CKOVA_xFile& patch, PatchKind kind);

// The size of the result for a source of `sourceSize` bytes.
int64_t ForeignResultSize(const ForeignInfo& info, int64_t sourceSize);

// Writes the patched `source` into `out` (empty, open for reading and
// writing), reading the patch again and comparing it with `info`; the
// result's CRC-32 in `resultCrc`, checked against the patch's own for UPS
// and BPS. `source` is only read. kNone, or why it failed (`out` then holds
// anything).
ForeignFault ProduceForeign(CKOVA_xFile& patch, const ForeignInfo& info, CKOVA_xFile& source,
                            CKOVA_xFile& out, uint32_t& resultCrc);

// An IPS or UPS patch as the same kind of ZELP patch the in-place
// application (with its rollback journal) takes: absolute records of the
// bytes it changes in `source`, the file it will be applied to (read here,
// not changed), and the size after patching; a UPS also checks the source's
// CRC-32. `resultCrc` is the CRC-32 of the file the records would make
// (UPS only: it is compared with the patch's before anything is written).
ForeignFault ForeignAsZelp(CKOVA_xFile& patch, const ForeignInfo& info, CKOVA_xFile& source,
                           std::vector<uint8_t>& zelp, uint32_t& resultCrc);

// The variable-length numbers of UPS and BPS: 7 bits a byte, low first, the
// high bit marking the last byte, each continuation adding one more step so
// that every number has one spelling.
size_t PutVarint(uint8_t* out, uint64_t value);  // at most 10 bytes

}  // namespace zelp
