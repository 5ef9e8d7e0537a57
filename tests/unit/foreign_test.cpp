// IPS, UPS and BPS: hand-made vectors for each format's edge cases, damaged
// patches, round trips through the writers, and a sweep of cut and flipped
// patches, each compared with the plain reading in reference_formats.h.
#include "engine/foreign.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "author/foreign_writer.h"
#include "engine/diagnose.h"
#include "support/mem_file.h"
#include "support/reference_formats.h"
#include "support/reference_patch.h"
#include "support/test_util.h"

namespace {

using zelp::ForeignFault;
using zelp::PatchKind;
using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
// A literal's bytes, NULs included.
#define S(literal) B(std::string(literal, sizeof(literal) - 1))
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// `body` followed by the source, target and patch CRC-32s.
Bytes Sealed(Bytes body, const Bytes& source, const Bytes& target) {
  for (uint32_t crc :
       {reference::Crc(source.data(), source.size()), reference::Crc(target.data(), target.size())})
    for (int i = 0; i < 4; ++i) body.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  uint32_t self = reference::Crc(body.data(), body.size());
  for (int i = 0; i < 4; ++i) body.push_back(static_cast<uint8_t>(self >> (8 * i)));
  return body;
}

// The engine's whole run: sniff, check, then write the result.
ForeignFault EngineApply(const Bytes& patch, const Bytes& source, Bytes& out) {
  MemFile p(patch), s(source), o;
  zelp::ForeignInfo info = zelp::InspectForeign(p, zelp::SniffPatch(p));
  if (info.fault != ForeignFault::kNone) return info.fault;
  uint32_t crc = 0;
  ForeignFault f = zelp::ProduceForeign(p, info, s, o, crc);
  out = o.data;
  return f;
}

bool ReferenceApply(const Bytes& patch, const Bytes& source, Bytes& out) {
  if (patch.size() >= 4 && patch[0] == 'U') return reference::ApplyUps(patch, source, out);
  if (patch.size() >= 4 && patch[0] == 'B') return reference::ApplyBps(patch, source, out);
  return reference::ApplyIps(patch, source, out);
}

Bytes IpsEofTarget() {
  Bytes t(0x454F48, 0);
  t[0] = 'a';
  t[0x454F46] = 'h', t[0x454F47] = 'i';
  return t;
}

const Bytes kHello = B("Hello, world!");

struct Vector {
  const char* name;
  Bytes patch, source, expected;
};

TEST(ForeignFormats, HandMadeVectorsGiveTheirResult) {
  const Bytes ups1 = Cat(S("UPS1\x84\x86\x82"), {'c' ^ 'X', 0, 0x80, 'e', 'f', 0});
  const Bytes ups2 = Cat(S("UPS1\x86\x83\x81"), {'b' ^ 'X', 0, 0x80, 'd', 'e', 'f', 0});
  const Bytes hello2 = B("Hello, Hello, world!!!!H");
  const Vector vectors[] = {
      {"IPS record and a run past the end",
       S("PATCH\0\0\x02\0\x03"
         "abc\0\0\x07\0\0\0\x04zEOF"),
       B("0123456789"), B("01abc56zzzz")},
      {"IPS cut after EOF", S("PATCH\0\0\0\0\x01XEOF\0\0\x04"), B("0123456789"), B("X123")},
      {"IPS record at the offset that spells EOF", S("PATCHEOF\0\x02hiEOF"), B("a"),
       IpsEofTarget()},
      {"UPS grows", Sealed(ups1, B("abcd"), B("abXdef")), B("abcd"), B("abXdef")},
      {"UPS shrinks", Sealed(ups2, B("abcdef"), B("aXc")), B("abcdef"), B("aXc")},
      // Source read, source copy, target read, source copy forward, an
      // overlapping target copy, a source copy backward; metadata "<t>".
      {"BPS every action",
       Sealed(S("BPS1\x8D\x98\x83<t>\x98\x92\x80\x85, \x96\x84\x8B\xA6\x82\x9B"), kHello, hello2),
       kHello, hello2},
  };
  for (const Vector& v : vectors) {
    Bytes engine, ref;
    EXPECT_EQ(EngineApply(v.patch, v.source, engine), ForeignFault::kNone) << v.name;
    EXPECT_EQ(engine, v.expected) << v.name;
    EXPECT_TRUE(ReferenceApply(v.patch, v.source, ref)) << v.name;
    EXPECT_EQ(ref, v.expected) << v.name;
  }
  MemFile bps(vectors[5].patch);
  EXPECT_EQ(zelp::InspectForeign(bps, PatchKind::kBps).metadata, "<t>");
}

TEST(ForeignFormats, DamagedPatchesAreRefusedWithTheirFault) {
  const Bytes hi = B("hi");
  const struct {
    const char* name;
    Bytes patch;
    ForeignFault fault;
  } cases[] = {
      {"IPS cut inside a record",
       S("PATCH\0\0\x02\0\x03"
         "ab"),
       ForeignFault::kCutShort},
      {"IPS without EOF", B("PATCH"), ForeignFault::kCutShort},
      {"IPS with bytes after EOF", B("PATCHEOFxy"), ForeignFault::kTrailing},
      {"UPS with a damaged byte",
       [] {
         Bytes p = Sealed(S("UPS1\x82\x82\x80\x01\x00"), B("hi"), B("ii"));
         p[7] ^= 2;  // the XOR byte
         return p;
       }(),
       ForeignFault::kPatchCrc},
      {"UPS skipping past both files", Sealed(S("UPS1\x82\x82\x85\x01\x00"), hi, hi),
       ForeignFault::kOutside},
      {"BPS copying a target byte not yet written", Sealed(S("BPS1\x82\x82\x80\x83\x80"), hi, hi),
       ForeignFault::kOutside},
      {"BPS making fewer bytes than it names", Sealed(S("BPS1\x82\x82\x80\x80"), hi, hi),
       ForeignFault::kOutside},
      {"BPS reading past the source", Sealed(S("BPS1\x82\x83\x80\x88"), hi, B("hi!")),
       ForeignFault::kOutside},
      {"BPS with a number of eleven bytes", Sealed(Cat(S("BPS1"), Bytes(11, 0)), hi, hi),
       ForeignFault::kNumber},
      {"BPS metadata longer than the patch", Sealed(S("BPS1\x82\x82\xA0"), hi, hi),
       ForeignFault::kCutShort},
      {"BPS promising another result", Sealed(S("BPS1\x82\x82\x80\x84"), hi, B("ho")),
       ForeignFault::kResultCrc},
  };
  for (const auto& c : cases) {
    Bytes out, ref;
    EXPECT_EQ(EngineApply(c.patch, hi, out), c.fault) << c.name;
    EXPECT_FALSE(ReferenceApply(c.patch, hi, ref)) << c.name;
  }
}

// Pairs of files that exercise the writers: growth, shrinking, blocks that
// move or repeat, scattered changes.
std::vector<std::pair<Bytes, Bytes>> Pairs() {
  Bytes base = testutil::RandomBytes(200000, 7);
  std::vector<std::pair<Bytes, Bytes>> pairs;
  Bytes moved(base);
  std::rotate(moved.begin(), moved.begin() + 50000, moved.begin() + 120000);
  pairs.push_back({base, moved});
  Bytes repeated(base.begin(), base.begin() + 100000);
  Bytes fresh = testutil::RandomBytes(3000, 9);
  repeated.insert(repeated.begin() + 500, fresh.begin(), fresh.end());
  repeated.insert(repeated.end(), fresh.begin(), fresh.end());
  pairs.push_back({base, repeated});
  Bytes scattered(base);
  for (size_t i = 0; i < scattered.size(); i += 997) scattered[i] ^= 0x5A;
  scattered.resize(260000, 0);
  pairs.push_back({base, scattered});
  pairs.push_back({Bytes(), B("from nothing")});
  pairs.push_back({B("to nothing"), Bytes()});
  pairs.push_back({base, base});
  return pairs;
}

TEST(ForeignFormats, WrittenPatchesApplyToTheModifiedFile) {
  const auto pairs = Pairs();
  for (PatchKind kind : {PatchKind::kIps, PatchKind::kUps, PatchKind::kBps}) {
    for (size_t i = 0; i < pairs.size(); ++i) {
      const auto& [a, b] = pairs[i];
      Bytes patch, engine, ref;
      zelp::author::ForeignStats stats;
      zelp::Bilingual error;
      ASSERT_TRUE(zelp::author::EncodeForeign(kind, a, b, "notes", patch, stats, error));
      EXPECT_EQ(EngineApply(patch, a, engine), ForeignFault::kNone) << int(kind) << " pair " << i;
      EXPECT_EQ(engine, b) << int(kind) << " pair " << i;
      EXPECT_TRUE(ReferenceApply(patch, a, ref)) << int(kind) << " pair " << i;
      EXPECT_EQ(ref, b) << int(kind) << " pair " << i;
      // A moved or repeated block is a copy, not its bytes again.
      if (kind == PatchKind::kBps && i < 2) {
        EXPECT_LT(patch.size(), 4000u) << "pair " << i;
      }
    }
  }
}

// In place, IPS and UPS become ZELP records: read by the plain ZELP reading,
// they turn the original into the modified file too.
TEST(ForeignFormats, IpsAndUpsAsZelpRecordsGiveTheModifiedFile) {
  const auto pairs = Pairs();
  for (PatchKind kind : {PatchKind::kIps, PatchKind::kUps}) {
    for (size_t i = 0; i < pairs.size(); ++i) {
      const auto& [a, b] = pairs[i];
      Bytes patch, zelp;
      zelp::author::ForeignStats stats;
      zelp::Bilingual error;
      ASSERT_TRUE(zelp::author::EncodeForeign(kind, a, b, "", patch, stats, error));
      MemFile p(patch), s(a);
      uint32_t crc = 0;
      ASSERT_EQ(ForeignFault::kNone,
                zelp::ForeignAsZelp(p, zelp::InspectForeign(p, kind), s, zelp, crc));
      reference::Outcome o = reference::Apply(zelp, 0, a, INT64_MAX);
      EXPECT_EQ(o.message, u"补丁成功") << int(kind) << " pair " << i;
      EXPECT_EQ(o.out, b) << int(kind) << " pair " << i;
    }
  }
}

TEST(ForeignFormats, IpsRefusesChangesAt16MiB) {
  Bytes a(zelp::kIpsLimit + 10, 1), b(a);
  b[zelp::kIpsLimit + 2] = 2;
  Bytes patch;
  zelp::author::ForeignStats stats;
  zelp::Bilingual error;
  EXPECT_FALSE(zelp::author::EncodeForeign(PatchKind::kIps, a, b, "", patch, stats, error));
  EXPECT_NE(error.english.find(u"16 MiB or more (the first is at byte 16777218)"),
            std::u16string::npos);
}

// UPS and BPS name the file by its size and CRC-32, before and after; an IPS
// checks nothing, so every file matches.
TEST(ForeignFormats, DiagnosisNamesAlreadyPatchedHeaderAndOtherFile) {
  Bytes a = testutil::RandomBytes(4000, 3), b(a);
  b[100] ^= 1;
  Bytes headered(512, 0), headeredB(512, 0);
  headered.insert(headered.end(), a.begin(), a.end());
  headeredB.insert(headeredB.end(), b.begin(), b.end());
  const struct {
    Bytes target;
    zelp::Verdict verdict;
  } cases[] = {{a, zelp::Verdict::kMatches},
               {b, zelp::Verdict::kAlreadyPatched},
               {headered, zelp::Verdict::kCopierHeader},
               {headeredB, zelp::Verdict::kPatchedBehindHeader},
               {testutil::RandomBytes(4000, 4), zelp::Verdict::kOtherFile}};
  for (PatchKind kind : {PatchKind::kIps, PatchKind::kUps, PatchKind::kBps}) {
    Bytes patch;
    zelp::author::ForeignStats stats;
    zelp::Bilingual error;
    ASSERT_TRUE(zelp::author::EncodeForeign(kind, a, b, "", patch, stats, error));
    MemFile p(patch);
    zelp::ForeignInfo info = zelp::InspectForeign(p, kind);
    for (const auto& c : cases) {
      MemFile t(c.target);
      EXPECT_EQ(zelp::DiagnoseForeign(info, t).verdict,
                kind == PatchKind::kIps ? zelp::Verdict::kMatches : c.verdict)
          << int(kind) << " " << int(c.verdict);
    }
  }
}

// Every cut and every single flipped byte of a patch of each format: the
// engine refuses it or gives what the plain reading gives; UPS and BPS
// always refuse (their own CRC-32).
TEST(ForeignFormats, DamageSweepAgreesWithTheReference) {
  Bytes a = testutil::RandomBytes(3000, 11), b(a);
  for (size_t i = 0; i < 40; ++i) b[i * 70] ^= static_cast<uint8_t>(i + 1);
  b.insert(b.begin() + 1000, a.begin() + 2000, a.begin() + 2100);
  for (PatchKind kind : {PatchKind::kIps, PatchKind::kUps, PatchKind::kBps}) {
    Bytes patch;
    zelp::author::ForeignStats stats;
    zelp::Bilingual error;
    ASSERT_TRUE(zelp::author::EncodeForeign(kind, a, b, "m", patch, stats, error));
    std::vector<Bytes> damaged;
    for (size_t n = 0; n < patch.size(); ++n)
      damaged.emplace_back(patch.begin(), patch.begin() + n);
    for (size_t i = 0; i < patch.size(); ++i) {
      damaged.push_back(patch);
      damaged.back()[i] ^= static_cast<uint8_t>(1 << (i % 8));
    }
    for (const Bytes& d : damaged) {
      Bytes engine, ref;
      bool ok = EngineApply(d, a, engine) == ForeignFault::kNone;
      ASSERT_EQ(ok, ReferenceApply(d, a, ref)) << int(kind) << " size " << d.size();
      EXPECT_TRUE(!ok || engine == ref);
      EXPECT_TRUE(kind == PatchKind::kIps || !ok);
    }
  }
}

}  // namespace
