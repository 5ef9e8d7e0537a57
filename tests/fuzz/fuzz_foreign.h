// Shared by the IPS, UPS and BPS fuzz targets: the engine's streaming reader
// against the plain reading of reference_formats.h, on any patch; and the
// writer, on the source and the patch's bytes taken as a modified file.
//
// Input: 2 bytes, the source's length (little-endian, modulo what there is),
// the source, then the patch. A UPS or BPS patch of 12 bytes or more is
// sealed first: its source CRC-32 set to the source's, its target CRC-32 to
// that of the result the reference reads (when it reads one), its own CRC-32
// recomputed, so that inputs reach past the checksums.
#pragma once

#include <cstdint>
#include <vector>

#include "author/foreign_writer.h"
#include "engine/foreign.h"
#include "fuzz_common.h"
#include "support/mem_file.h"
#include "support/reference_formats.h"

namespace fuzz {

inline void PutCrc(std::vector<uint8_t>& p, size_t at, uint32_t crc) {
  for (int i = 0; i < 4; ++i) p[at + i] = static_cast<uint8_t>(crc >> (8 * i));
}

inline void CheckForeign(zelp::PatchKind kind, const uint8_t* data, size_t size) {
  if (size < 2) return;
  size_t sourceLen = static_cast<size_t>(data[0] | data[1] << 8) % (size - 1);
  std::vector<uint8_t> source(data + 2, data + 2 + sourceLen),
      patch(data + 2 + sourceLen, data + size);
  if (kind != zelp::PatchKind::kIps && patch.size() > 4) {
    // A valid patch may name a result of any size; both readings would
    // build it in memory, so such inputs stop here.
    reference::Cursor c(patch, patch.size());
    c.at = 4;
    for (int i = 0; i < 2; ++i)
      if (c.Number() > (uint64_t{1} << 20)) return;
  }
  bool ref = false;
  std::vector<uint8_t> expected;
  if (kind == zelp::PatchKind::kIps) {
    ref = reference::ApplyIps(patch, source, expected);
  } else if (patch.size() >= 12) {
    size_t n = patch.size();
    PutCrc(patch, n - 12, reference::Crc(source.data(), source.size()));
    bool read = kind == zelp::PatchKind::kUps ? reference::ApplyUps(patch, source, expected, false)
                                              : reference::ApplyBps(patch, source, expected, false);
    if (read) PutCrc(patch, n - 8, reference::Crc(expected.data(), expected.size()));
    PutCrc(patch, n - 4, reference::Crc(patch.data(), n - 4));
    ref = kind == zelp::PatchKind::kUps ? reference::ApplyUps(patch, source, expected)
                                        : reference::ApplyBps(patch, source, expected);
  }
  MemFile p(patch), s(source), o;
  zelp::ForeignInfo info = zelp::InspectForeign(p, kind);
  uint32_t crc = 0;
  zelp::ForeignFault fault = info.fault;
  if (fault == zelp::ForeignFault::kNone) fault = zelp::ProduceForeign(p, info, s, o, crc);
  const bool ok = fault == zelp::ForeignFault::kNone;
  Check(ok == ref, ok ? "the engine applied a patch the reference refuses"
                      : "the engine refused a patch the reference applies");
  if (!ok) return;
  Check(o.data == expected, "the engine's result differs from the reference's");
  Check(crc == reference::Crc(expected.data(), expected.size()), "the result's CRC-32 is wrong");
}

}  // namespace fuzz
