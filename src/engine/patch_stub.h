// The program's one piece of state: where the patch starts, the shared
// scratch buffer, the summary text and the patch information record.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/outcome.h"
#include "file/xfile.h"

namespace zelp {
class StreamReader;
class JournalSpot;
class Journal;
class RangeSet;
struct CheckedStream;
}  // namespace zelp

// What start-up read from the patch header.
class CWD_ZELP信息 {
 public:
  CWD_ZELP信息();
  virtual ~CWD_ZELP信息() = default;

  char16_t version[17];         // the identification as text
  char16_t description[65536];  // at most 32,768 units are read; always terminated
  int64_t targetSize;
  uint32_t targetCrc;
};

class CPatchStub {
 public:
  explicit CPatchStub(uint64_t base = 0);

  // Reads the header of the patch (at patchBase) into `info` and the summary
  // text; 1 or 0, without a message. The first opens the file at `path`
  // (engine/by_name.cpp).
  int LoadPatchInfoFrom(const char16_t* path);
  int LoadPatchInfoFromFile(CKOVA_xFile& file);

  // Writes the record stream, positioned at its first record, into the
  // target until the end record; 1, or 0 after reporting the failure.
  int ApplyRecords(CKOVA_xFile& patchFile, CKOVA_xFile& target, void* owner);

  // The application procedure from opening both files on: reports every
  // outcome ("补丁成功" or why not) and returns 1 or 0 (engine/by_name.cpp).
  int ApplyPatchFiles(const char16_t* ownPath, const char16_t* targetPath, void* owner);
  // The same with the patch already open (an IPS or UPS patch made into a
  // ZELP one in memory).
  int ApplyToPath(CKOVA_xFile& patchFile, const char16_t* targetPath, void* owner);
  // The same over two files already open (patch readable, target writable),
  // with the rollback journal at `spot` when given.
  int ApplyOpened(CKOVA_xFile& patchFile, CKOVA_xFile& target, void* owner,
                  zelp::JournalSpot* spot = nullptr);
  // ApplyOpened with the journal at `spot`, after dealing with one that an
  // earlier run left there (put back, removed, or set aside).
  int ApplyRecovering(CKOVA_xFile& patchFile, CKOVA_xFile& target, void* owner,
                      zelp::JournalSpot& spot);

#ifdef _WIN32
  // The Windows program's operations, defined with the dialog they serve in
  // src/ui/patch_stub_win32.cpp: they find the program's own file through
  // the module file name, and ApplyPatch asks for the target with the
  // chooser. Both end in the portable operations above.
  int LoadPatchInfo();
  int ApplyPatch(void* owner);
#endif

  // Reports `o` (sets `outcome`, shows its text) and returns 0.
  int Finish(void* owner, zelp::Outcome o);

  uint64_t patchBase;
  zelp::Outcome outcome = zelp::Outcome::kOk;  // of the last operation that reported
  uint8_t scratch[65536];
  char16_t summary[65536];
  CWD_ZELP信息 info;

 private:
  // One pass over the record stream. With a target it writes; without, it
  // only checks the stream (same parsing, same messages) and yields in
  // `extent` the end of the farthest record that writes a byte.
  // With `writes`, also the ranges the records write, in the order written.
  // kOk, or the failure (not yet reported).
  zelp::Outcome RunRecords(zelp::StreamReader& in, CKOVA_xFile* target, int64_t* extent,
                           zelp::RangeSet* writes = nullptr);
  // Everything that changes the target, in an order that leaves a cut for
  // last: secure the space and make the journal durable (when it has a
  // spot), grow, zero what a cut-then-grow would have zeroed, write the
  // records, cut, flush. kOk or the failure. `knownCrc` is the target's
  // CRC-32 when the header checked it, else 0.
  zelp::Outcome ChangeTarget(CKOVA_xFile& patchFile, int64_t recordsAt,
                             const zelp::CheckedStream& checked, CKOVA_xFile& target,
                             int64_t targetSize, int64_t extent, zelp::RangeSet& writes,
                             zelp::Journal& journal, uint32_t knownCrc);
};
