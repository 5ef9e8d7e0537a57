// Writes a ZELP 3.0 patch that turns one file into another: the header, the
// smallest record stream (see planner.h) and the description.
#pragma once

#include <cstdint>
#include <string>

#include "author/foreign_writer.h"
#include "author/planner.h"
#include "common/words.h"
#include "file/xfile.h"

namespace zelp::author {

struct PatchOptions {
  bool crc = true;  // false: target CRC 0, no check when applying
  bool hasDescription = false;
  std::u16string description;  // UTF-16 with CR LF breaks, without terminator
  RecordLimits limits;         // the format's own unless testing
  // Bytes read from each file at a time: small enough that both blocks are
  // compared and hashed while still in the processor's cache (measured about
  // 15% less processor time than 4 MiB blocks).
  size_t blockSize = size_t{256} << 10;
  // Bytes of the patch gathered before each write, and of the modified file
  // read ahead for the records' data (at least 65,535: one record's data).
  size_t ioBuffer = size_t{1} << 20;
};

struct PatchStats {
  int64_t targetSize = 0;
  uint32_t targetCrc = 0;
  uint64_t records = 0;
  uint64_t dataBytes = 0;
  uint64_t patchSize = 0;  // bytes from the patch base to its end
  uint64_t forcedCuts = 0;
};

enum class PatchStatus { kOk, kReadOriginal, kReadModified, kWrite };

// Writes the patch into `out` from its current position on (the patch base).
// `modified` is streamed once by the comparison; `modifiedData` is a second
// handle on the same file from which the records' data is read.
PatchStatus WritePatch(CKOVA_xFile& original, CKOVA_xFile& modified, CKOVA_xFile& modifiedData,
                       CKOVA_xFile& out, const PatchOptions& options, PatchStats& stats);

// What zelp create and the page say once a patch is written: "wrote patch
// 'p.zelp': N bytes, R records, D data bytes" (`output` "" names no file).
Bilingual WroteText(bool program, const std::u16string& output, int64_t size,
                    const PatchStats& stats);
// The same for an IPS, UPS or BPS patch.
Bilingual WroteForeignText(PatchKind kind, const std::u16string& output, int64_t size,
                           const ForeignStats& stats);
// Notes on what the author may not expect, as lines ending in "\n": the two
// files are the same (the patch changes nothing); the original's CRC-32 is
// 0, which checks nothing. `original` "" names no file.
Bilingual CreateNotes(bool identical, bool zeroCrc, const std::u16string& original,
                      const std::u16string& modified);
// That a patch of `kind` (IPS or UPS) carries no description.
Bilingual NoDescriptionText(PatchKind kind);

}  // namespace zelp::author
