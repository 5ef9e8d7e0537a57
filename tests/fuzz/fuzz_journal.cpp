// The journal reader and the recovery over arbitrary journals: a journal is
// applied only when putting it back gives the file its run began with, and
// anything else leaves the target untouched.
//
// Input: 2 bytes (little-endian) of target length, then the journal's bytes.
// The target holds i * 7 at offset i.
#include <cstdint>
#include <vector>

#include "engine/journal.h"
#include "file/crc32.h"
#include "fuzz_common.h"
#include "support/mem_file.h"
#include "support/mem_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t length = data[0] | static_cast<size_t>(data[1]) << 8;
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  MemFile target(bytes);
  MemJournalSpot spot;
  spot.exists = true;
  spot.file.data.assign(data + 2, data + size);
  zelp::Recovery r = zelp::RecoverFromJournal(spot, target);
  if (r.state == zelp::Recovered::kRolledBack) {
    // Put back, the file is the one the journal says its run began with.
    zelp::JournalContents j;
    MemFile journal(std::vector<uint8_t>(data + 2, data + size));
    fuzz::Check(zelp::ReadJournal(journal, j), "a journal applied that does not read");
    fuzz::Check(static_cast<int64_t>(target.data.size()) == j.oldSize, "size after putting back");
    fuzz::Check(j.version == 1 || zelp::Crc32Of(target.data.data(), target.data.size()) == j.oldCrc,
                "a journal applied that does not give its file back");
    fuzz::Check(!spot.exists, "a journal applied and kept");
  } else {
    fuzz::Check(target.data == bytes, "the target changed by a journal not applied");
  }
  return 0;
}
