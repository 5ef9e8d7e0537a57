// The page's engine: the portable layers over files held in memory, exported
// as plain C functions to web/worker.js. The worker copies each file the user
// picks into memory from zelp_alloc, hands it over, and reads the outcome
// back through zelp_text / zelp_result_*.
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "author/description.h"
#include "author/foreign_writer.h"
#include "author/patch_writer.h"
#include "author/stamp_file.h"
#include "common/caption.h"
#include "common/report.h"
#include "common/text.h"
#include "engine/diagnose.h"
#include "engine/explain.h"
#include "engine/foreign.h"
#include "engine/format.h"
#include "engine/outcome.h"
#include "engine/patch_base.h"
#include "engine/patch_stub.h"
#include "engine/stamp.h"
#include "file/crc32.h"
#include "file/digest_backend.h"
#include "file/digests.h"
#include "file/offset_file.h"

namespace {

// Progress reports go to the worker, which posts them to the page.
EM_JS(void, ZelpProgress, (int phase, double done, double total), {
  if (Module["onProgress"]) Module["onProgress"](phase, done, total);
});

// The largest file the page holds in memory (1 GiB): the user's file, the
// patched result and the files a patch is made from.
constexpr int64_t kMaxFileBytes = int64_t{1} << 30;

constexpr int64_t kReportEvery = int64_t{8} << 20;

// A file held in memory. Its buffer comes from malloc, so that memory the
// browser will not give is a failed write (reported), never an abort; and no
// file grows beyond kMaxFileBytes.
class WebFile : public CKOVA_xFile {
 public:
  WebFile() = default;
  WebFile(uint8_t* data, size_t size) : data_(data), size_(size), capacity_(size) {}
  ~WebFile() override { std::free(data_); }
  WebFile(const WebFile&) = delete;
  WebFile& operator=(const WebFile&) = delete;

  uint32_t Read(void* buffer, uint32_t count) override {
    if (pos_ >= static_cast<int64_t>(size_)) return 0;
    size_t left = size_ - static_cast<size_t>(pos_);
    uint32_t n = left < count ? static_cast<uint32_t>(left) : count;
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    if (progressPhase && pos_ - lastReport_ >= kReportEvery) {
      lastReport_ = pos_;
      ZelpProgress(progressPhase, static_cast<double>(pos_), static_cast<double>(size_));
    }
    return n;
  }
  uint32_t Write(const void* buffer, uint32_t count) override {
    if (count == 0) return 0;
    knownCrc_ = false;
    if (pos_ > kMaxFileBytes - static_cast<int64_t>(count)) {
      overLimit = true;  // also keeps pos_ + count from overflowing
      return 0;
    }
    if (!Grow(pos_ + count)) return 0;
    std::memcpy(data_ + pos_, buffer, count);
    pos_ += count;
    return count;
  }
  int64_t WriteAt(int64_t position, const void* buffer, uint32_t count) override {
    if (position < 0) return -1;
    pos_ = position;
    return count ? Write(buffer, count) : 0;
  }
  void Close() override {}
  void GetSize(int64_t& size) override { size = static_cast<int64_t>(size_); }
  int Tell(int64_t& position) override {
    position = pos_;
    return 1;
  }
  bool Seek(int64_t position) override {
    if (position < 0) return false;
    pos_ = position;
    return true;
  }
  uint32_t Crc32() override {
    if (knownCrc_) return crc_;
    double start = emscripten_get_now();
    uint32_t running = 0xFFFFFFFFu;
    for (size_t at = 0; at < size_;) {
      size_t n = size_ - at < static_cast<size_t>(kReportEvery) ? size_ - at : kReportEvery;
      running = zelp::Crc32Update(running, data_ + at, n);
      at += n;
      ZelpProgress(1, static_cast<double>(at), static_cast<double>(size_));
    }
    crcMs += emscripten_get_now() - start;
    return size_ ? running ^ 0xFFFFFFFFu : 0;
  }
  // Memory is always read whole.
  bool WholeCrc32(uint32_t& crc) override {
    crc = Crc32();
    return true;
  }
  bool IsOpen() override { return true; }
  bool SetEnd() override {
    knownCrc_ = false;
    if (pos_ > static_cast<int64_t>(size_)) return Grow(pos_);
    size_ = static_cast<size_t>(pos_);
    return true;
  }
  bool Reserve(int64_t size) override {
    knownCrc_ = false;
    return size <= static_cast<int64_t>(size_) || Grow(size);
  }
  bool Flush() override { return true; }

  // The CRC-32 of the bytes as they are, taken while they were read in;
  // any change forgets it.
  void KnowCrc(uint32_t crc) {
    crc_ = crc;
    knownCrc_ = true;
  }
  uint8_t* data() { return data_; }
  size_t size() const { return size_; }
  // Hands the buffer to the caller (who frees it), leaving the file empty.
  uint8_t* Release() {
    uint8_t* d = data_;
    data_ = nullptr;
    size_ = capacity_ = 0;
    return d;
  }

  int progressPhase = 0;     // Read reports its progress under this phase
  double crcMs = 0;          // time spent in Crc32
  bool overLimit = false;    // something asked for more than kMaxFileBytes
  bool outOfMemory = false;  // the browser would not give the memory

 private:
  // Makes the file `size` bytes long at least; new bytes are zeros.
  bool Grow(int64_t size) {
    if (size > kMaxFileBytes) {
      overLimit = true;
      return false;
    }
    size_t want = static_cast<size_t>(size);
    if (want <= size_) return true;
    if (want > capacity_) {
      // Growing by half again keeps appends (the patch writer) linear.
      size_t cap = capacity_ + capacity_ / 2;
      if (cap < want) cap = want;
      if (cap > static_cast<size_t>(kMaxFileBytes)) cap = static_cast<size_t>(kMaxFileBytes);
      auto* grown = static_cast<uint8_t*>(std::realloc(data_, cap));
      if (!grown) {
        outOfMemory = true;
        return false;
      }
      data_ = grown;
      capacity_ = cap;
    }
    std::memset(data_ + size_, 0, want - size_);
    size_ = want;
    return true;
  }

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  int64_t pos_ = 0;
  int64_t lastReport_ = 0;
  uint32_t crc_ = 0;
  bool knownCrc_ = false;
};

// A second, read-only view of another file's bytes (the patch writer reads
// the modified file through two handles).
class ViewFile : public WebFile {
 public:
  ViewFile(uint8_t* data, size_t size) : WebFile(data, size) {}
  ~ViewFile() override { Release(); }
};

// Text in both of the page's languages (0 English, 1 Chinese), so that its
// switch shows the other without running anything again.
struct Both {
  std::string text[2];
};

// What the last call produced, read by the worker through zelp_text.
struct Outcome {
  std::string caption, summary, description, message;
  Both explanation, error, summaryLine, fileSums, resultSums;
  uint8_t* result = nullptr;
  size_t resultSize = 0;
  double crcMs = 0, recordsMs = 0, sumsMs = 0;
};
Outcome g_out;

// The patch the page has loaded, where in it the patch begins, and the size
// it gives the file; for an IPS, UPS or BPS patch, its kind and what
// checking it whole found.
std::unique_ptr<WebFile> g_patch;
uint64_t g_base = 0;
int64_t g_resultSize = 0;
zelp::PatchKind g_kind = zelp::PatchKind::kZelp;
zelp::ForeignInfo g_info;

bool Foreign(zelp::PatchKind kind) {
  return kind == zelp::PatchKind::kIps || kind == zelp::PatchKind::kUps ||
         kind == zelp::PatchKind::kBps;
}

void ClearOutcome() {
  std::free(g_out.result);
  g_out = Outcome{};
}

std::string Utf8(const std::u16string& s) { return zelp::Utf16ToUtf8(s); }

// Line breaks as a web page shows them.
std::string PageText(const char16_t* text) { return Utf8(zelp::CrLfToLf(text)); }

constexpr zelp::Language kLanguages[2] = {zelp::Language::kEnglish, zelp::Language::kChinese};

// `say(language)` in both languages, without a final line break.
template <class Say>
Both InBoth(Say say) {
  Both b;
  for (int i = 0; i < 2; ++i) {
    std::string s = Utf8(say(kLanguages[i]));
    while (!s.empty() && s.back() == '\n') s.pop_back();
    b.text[i] = s;
  }
  return b;
}

// The page's own words, English and Chinese.
Both Words(const char16_t* english, const char16_t* chinese) {
  return InBoth(
      [&](zelp::Language l) { return l == zelp::Language::kChinese ? chinese : english; });
}

// That something would be larger than the page can hold (1 GiB): `what`
// says what, in English and Chinese.
Both TooLarge(const std::u16string& english, const std::u16string& chinese) {
  const std::u16string most = zelp::Grouped(kMaxFileBytes);
  return InBoth([&](zelp::Language l) {
    return l == zelp::Language::kChinese
               ? chinese + u"超过 1 GiB（" + most +
                     u" 字节），本页处理不了。请用 zelp 命令或 Windows 补丁程序。"
               : english + u" larger than 1 GiB (" + most +
                     u" bytes), the most this page can hold. Use the zelp command or the Windows "
                     u"program.";
  });
}

const Both kNoMemory = Words(
    u"the browser would not give this page enough memory. Close other tabs and try again, or use "
    u"the zelp command.",
    u"浏览器没有给本页足够的内存。请关闭其他标签页后重试，或使用 zelp 命令。");

// The checksums of a file taken piece by piece as a worker reads it
// (zelp_hash_*): the engine's worker takes its CRC-32 alone, on the way to
// the download; the page's second worker all three, off it.
struct Hashing {
  std::unique_ptr<zelp::DigestBackend> backend;  // null: the CRC-32 alone
  bool failed = false;                           // MD5 and SHA-1 could not be taken
  uint32_t crc = 0xFFFFFFFFu;
  int64_t bytes = 0;
  double crcMs = 0, sumsMs = 0;
};
Hashing g_hashing;

// "This file (past its header):" and the checksums a line each: the three
// from `d`, or with `d` null the CRC-32 `crc` alone while MD5 and SHA-1 are
// still being computed.
Both SumsText(const zelp::Digests* d, uint32_t crc, zelp::Digested what, bool pastHeader) {
  std::u16string lines = d ? zelp::DigestText(*d) : u"CRC-32 " + zelp::Hex32(crc);
  for (size_t at; (at = lines.find(u", ")) != std::u16string::npos;) lines.replace(at, 2, u"\n");
  return InBoth([&](zelp::Language l) {
    const bool zh = l == zelp::Language::kChinese;
    std::u16string text = zelp::DigestLabel(what, pastHeader, l) + (zh ? u"：\n" : u":\n");
    if (!zh) text[0] = static_cast<char16_t>(text[0] - u'a' + u'A');  // a heading here
    text += lines;
    if (!d) text += zh ? u"\nMD5、SHA-1：计算中…" : u"\nMD5, SHA-1: computing…";
    return text;
  });
}

// The checksums of `file`'s bytes past `skip`, as zelp check prints them.
bool DigestsOf(WebFile& file, int64_t skip, zelp::Digests& d) {
  double start = emscripten_get_now();
  ViewFile whole(file.data(), file.size());
  zelp::OffsetFile view(whole, skip);
  whole.progressPhase = 5;
  const bool ok = zelp::DigestFile(view, d);
  g_out.sumsMs += emscripten_get_now() - start;
  return ok;
}

// The loaded IPS, UPS or BPS patch applied to `source` (the user's file past
// `skip` bytes of header, which the result keeps): as zelp_apply returns.
int ApplyForeign(WebFile& target, CKOVA_xFile& source, int64_t skip, const std::u16string& name) {
  zelp::Diagnosis d = zelp::DiagnoseForeign(g_info, source);
  if (d.verdict != zelp::Verdict::kMatches) {
    g_out.message = Utf8(zelp::ReportText(zelp::Outcome::kCrcMismatch));
    g_out.explanation =
        InBoth([&](zelp::Language l) { return zelp::ForeignDiagnosisText(g_info, d, name, l); });
    return d.verdict == zelp::Verdict::kUnreadable ? 1 : 3;
  }
  WebFile out;
  zelp::OffsetFile result(out, skip);
  uint32_t crc = 0;
  zelp::ForeignFault fault =
      skip && out.WriteAt(0, target.data(), static_cast<uint32_t>(skip)) != skip
          ? zelp::ForeignFault::kWrite
          : zelp::ProduceForeign(*g_patch, g_info, source, result, crc);
  if (fault != zelp::ForeignFault::kNone) {
    g_out.error =
        InBoth([&](zelp::Language l) { return zelp::ForeignFaultText(g_info, fault, l); });
    return 1;
  }
  g_out.message = Utf8(zelp::ReportText(zelp::Outcome::kOk));
  g_out.resultSize = out.size();
  g_out.result = out.Release();
  return 0;
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE uint8_t* zelp_alloc(double size) {
  // At least one byte, so that an empty file still has a buffer.
  return static_cast<uint8_t*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
}

EMSCRIPTEN_KEEPALIVE void zelp_free(uint8_t* p) { std::free(p); }

// 0 caption, 1 summary, 2 description, 3 the engine's own message (as the
// dialog shows it); in `language` (0 English, 1 Chinese): 4 the explanation
// lines, 5 an error of the page's own, 6 the summary as one line, 7 the
// chosen file's checksums, 8 the result's.
EMSCRIPTEN_KEEPALIVE const char* zelp_text(int which, int language) {
  const int l = language == 1 ? 1 : 0;
  switch (which) {
    case 0: return g_out.caption.c_str();
    case 1: return g_out.summary.c_str();
    case 2: return g_out.description.c_str();
    case 3: return g_out.message.c_str();
    case 4: return g_out.explanation.text[l].c_str();
    case 5: return g_out.error.text[l].c_str();
    case 6: return g_out.summaryLine.text[l].c_str();
    case 7: return g_out.fileSums.text[l].c_str();
    case 8: return g_out.resultSums.text[l].c_str();
  }
  return "";
}

// Why a file of `size` bytes called `name` is refused before it is read
// (zelp_text(5)); 0 when it fits.
EMSCRIPTEN_KEEPALIVE int zelp_too_large(double size, const char* name) {
  if (size <= static_cast<double>(kMaxFileBytes)) return 0;
  std::u16string what;
  zelp::Utf8ToUtf16(name, what);
  const std::u16string bytes = zelp::Grouped(static_cast<int64_t>(size));
  g_out.error = TooLarge(zelp::Quote(what) + u" is " + bytes + u" bytes,",
                         zelp::Quote(what) + u" 有 " + bytes + u" 字节，");
  return 1;
}

// Starts the checksums of a file a worker is about to read in: with
// `digests`, MD5 and SHA-1 too, otherwise the CRC-32 alone. The worker hands
// each piece (past a copier header) to zelp_hash_update; zelp_apply or
// zelp_hash_sums takes the outcome.
EMSCRIPTEN_KEEPALIVE void zelp_hash_begin(int digests) {
  g_hashing = Hashing{};
  if (digests) g_hashing.backend = std::make_unique<zelp::DigestBackend>();
}

EMSCRIPTEN_KEEPALIVE void zelp_hash_update(const uint8_t* data, double size) {
  const size_t n = static_cast<size_t>(size);
  double start = emscripten_get_now();
  g_hashing.crc = zelp::Crc32Update(g_hashing.crc, data, n);
  double middle = emscripten_get_now();
  if (g_hashing.backend && !g_hashing.failed && !g_hashing.backend->Update(data, n))
    g_hashing.failed = true;
  g_hashing.bytes += static_cast<int64_t>(n);
  g_hashing.crcMs += middle - start;
  g_hashing.sumsMs += emscripten_get_now() - middle;
}

// The three checksums of the file hashed since zelp_hash_begin(1), said as
// the file's (past its header when `header`) in zelp_text(7); 0 when MD5
// and SHA-1 could not be taken. Milliseconds spent in zelp_timing(2).
EMSCRIPTEN_KEEPALIVE int zelp_hash_sums(int header) {
  Hashing h = std::move(g_hashing);
  g_hashing = Hashing{};
  g_out.fileSums = Both{};
  g_out.sumsMs = h.crcMs + h.sumsMs;
  zelp::Digests d;
  if (!h.backend || h.failed || !h.backend->Finish(d.md5, d.sha1)) return 0;
  d.crc32 = h.crc ^ 0xFFFFFFFFu;
  g_out.fileSums = SumsText(&d, 0, zelp::Digested::kThisFile, header != 0);
  return 1;
}

EMSCRIPTEN_KEEPALIVE uint8_t* zelp_result_data() { return g_out.result; }
EMSCRIPTEN_KEEPALIVE double zelp_result_size() { return static_cast<double>(g_out.resultSize); }
// Milliseconds: 0 CRC-32 of the target, 1 the record passes, 2 the
// checksums of zelp_hash_sums or zelp_result_sums, whichever ran last.
EMSCRIPTEN_KEEPALIVE double zelp_timing(int which) {
  return which == 0 ? g_out.crcMs : which == 1 ? g_out.recordsMs : g_out.sumsMs;
}
// The result's checksums, past the header it keeps when `header`, into
// zelp_text(8): asked for after the download is offered, so that they do
// not delay it.
EMSCRIPTEN_KEEPALIVE void zelp_result_sums(int header) {
  const int64_t skip = header ? zelp::kCopierHeaderSize : 0;
  ViewFile result(g_out.result, g_out.resultSize);
  zelp::Digests d;
  g_out.sumsMs = 0;
  if (g_out.result && DigestsOf(result, skip, d))
    g_out.resultSums = SumsText(&d, 0, zelp::Digested::kResult, skip);
}

// Frees the result once the worker has copied it out.
EMSCRIPTEN_KEEPALIVE void zelp_result_free() {
  std::free(g_out.result);
  g_out.result = nullptr;
  g_out.resultSize = 0;
}

// Takes `data` (from zelp_alloc; freed here) as the patch or patch program
// named `name`. 1 with caption, summary and description; 2 with those and
// why the patch cannot be applied (its record stream is damaged: the dialog
// would show it and refuse every file); 0 with the reason.
EMSCRIPTEN_KEEPALIVE int zelp_load_patch(uint8_t* data, double size, const char* name) {
  using namespace zelp;
  ClearOutcome();
  g_patch = std::make_unique<WebFile>(data, static_cast<size_t>(size));
  g_out.caption = Utf8(g_caption);
  std::u16string patchName;
  Utf8ToUtf16(name, patchName);
  g_kind = SniffPatch(*g_patch);
  g_patch->Seek(0);  // where the ZELP reading expects the file
  if (Foreign(g_kind)) {
    g_base = 0;
    g_info = InspectForeign(*g_patch, g_kind);
    g_resultSize = g_info.checksSource ? static_cast<int64_t>(g_info.targetSize) : 0;
    // No program's own summary to show: the engine's, in the page's language.
    g_out.summary.clear();
    g_out.summaryLine = InBoth([&](Language l) { return ForeignSummaryText(g_info, l); });
    std::u16string metadata;
    if (Utf8ToUtf16(g_info.metadata, metadata)) g_out.description = Utf8(CrLfToLf(metadata));
    if (g_info.fault != ForeignFault::kNone) {
      g_out.error = InBoth([&](Language l) { return ForeignDamageText(g_info, l); });
      g_patch.reset();
      return 2;
    }
    return 1;
  }
  const zelp::Outcome found = FindPatchBase(*g_patch, g_base);
  if (found != zelp::Outcome::kOk) {
    g_out.error = InBoth([&](Language l) {
      return Quote(patchName) + (l == Language::kChinese ? u"：" : u": ") + Explanation(found, l);
    });
    g_patch.reset();
    return 0;
  }
  auto stub = std::make_unique<CPatchStub>(g_base);
  const StreamCheck check = CheckPatch(*g_patch, g_base);
  if (!stub->LoadPatchInfoFromFile(*g_patch)) {
    // What the dialog says when its own patch cannot be read.
    g_out.message = Utf8(ReportText(zelp::Outcome::kInitFailed));
    g_out.explanation = InBoth([&](Language l) {
      return check.damage != zelp::Outcome::kOk
                 ? DamageText(check, l)
                 : std::u16string(Explanation(zelp::Outcome::kInitFailed, l));
    });
    g_patch.reset();
    return 0;
  }
  g_out.summary = PageText(stub->summary);
  g_out.description = PageText(stub->info.description);
  g_resultSize = stub->info.targetSize;
  g_out.summaryLine = InBoth([&](Language l) {
    return SummaryLine(stub->info.version, stub->info.targetCrc, stub->info.targetSize, l);
  });
  if (check.damage != zelp::Outcome::kOk) {
    g_out.error = InBoth([&](Language l) {
      return DamageText(check, l) + (l == Language::kChinese
                                         ? u"这个补丁打不到任何文件上。"
                                         : u"It cannot be applied to any file.");
    });
    g_patch.reset();
    return 2;
  }
  return 1;
}

// Memory made ready for the file to patch while the user chooses it: the
// browser's memory costs a fault on the first touch of each page (about
// 0.5 ms a MiB), which would otherwise fall in the reading of the file. As
// much as the patch's result needs, up to kPrepareBytes, so that a patch only
// looked at holds no more. It is touched a step at a time, so that a file
// chosen meanwhile waits for one step at most, then freed: malloc hands the
// same, touched memory to the file that comes next.
constexpr int64_t kPrepareBytes = int64_t{256} << 20;
volatile uint8_t* g_ready = nullptr;
int64_t g_readySize = 0;
int64_t g_readyTouched = 0;

EMSCRIPTEN_KEEPALIVE void zelp_prepare_end() {
  std::free(const_cast<uint8_t*>(g_ready));
  g_ready = nullptr;
  g_readySize = g_readyTouched = 0;
}

// 1 when there is memory to make ready for the loaded patch.
EMSCRIPTEN_KEEPALIVE int zelp_prepare_begin() {
  zelp_prepare_end();
  int64_t size = g_resultSize < kPrepareBytes ? g_resultSize : kPrepareBytes;
  if (!g_patch || size <= 0) return 0;
  g_ready = static_cast<volatile uint8_t*>(std::malloc(static_cast<size_t>(size)));
  if (!g_ready) return 0;  // not now: the file asks again
  g_readySize = size;
  return 1;
}

// Touches the next `step` bytes (a multiple of 4096); 1 while more remain.
EMSCRIPTEN_KEEPALIVE int zelp_prepare_step(double step) {
  if (!g_ready) return 0;
  int64_t end = g_readyTouched + static_cast<int64_t>(step);
  if (end > g_readySize) end = g_readySize;
  for (int64_t at = g_readyTouched; at < end; at += 4096) g_ready[at] = 0;
  g_readyTouched = end;
  return end < g_readySize;
}

// Applies the loaded patch to `data` (the user's file, taken over and freed
// here), past a 512-byte copier header when `header`. Its CRC-32 is the one
// zelp_hash_* took while the file arrived (so that it overlaps reading).
// 0 success (the patched bytes in zelp_result_*), 1 failure, 3 the file is
// not the one the patch was made for. `name` names the file in
// the explanations. Messages as zelp_text says.
EMSCRIPTEN_KEEPALIVE int zelp_apply(uint8_t* data, double size, const char* name, int header) {
  ClearOutcome();
  auto target = std::make_unique<WebFile>(data, static_cast<size_t>(size));
  const int64_t skip = header ? zelp::kCopierHeaderSize : 0;
  if (!g_patch) {
    g_out.error = Words(u"choose a patch first", u"请先选择补丁");
    return 1;
  }
  if (static_cast<int64_t>(size) < skip) {
    g_out.error = Words(u"the file is shorter than a 512-byte copier header",
                        u"这个文件比512字节的拷贝机文件头还短");
    return 1;
  }
  // The CRC-32 the worker took as the file arrived; its MD5 and SHA-1 come
  // from the page's second worker.
  Hashing h = std::move(g_hashing);
  g_hashing = Hashing{};
  const int64_t hashed = static_cast<int64_t>(size) - skip;
  if (h.bytes != hashed) {
    h.crc = zelp::Crc32Update(0xFFFFFFFFu, target->data() + skip, static_cast<size_t>(hashed));
  }
  const uint32_t crc = h.crc ^ 0xFFFFFFFFu;
  g_out.crcMs = h.crcMs;
  g_out.fileSums = SumsText(nullptr, crc, zelp::Digested::kThisFile, skip);
  if (!skip) target->KnowCrc(crc);
  std::u16string targetName;
  zelp::Utf8ToUtf16(name, targetName);
  zelp::OffsetFile view(*target, skip);
  if (Foreign(g_kind)) return ApplyForeign(*target, view, skip, targetName);
  auto stub = std::make_unique<CPatchStub>(g_base);
  g_patch->progressPhase = 2;
  double start = emscripten_get_now();
  int ok;
  {
    // The page shows the outcome itself, in its own place.
    zelp::ReportRoute quiet([](void*, const char16_t*, void*) {}, nullptr);
    ok = stub->ApplyOpened(*g_patch, view, nullptr);
  }
  double total = emscripten_get_now() - start;
  g_patch->progressPhase = 0;
  const zelp::Outcome o = stub->outcome;
  g_out.message = Utf8(zelp::ReportText(o));
  g_out.crcMs += target->crcMs;
  g_out.recordsMs = total - target->crcMs;
  if (ok) {
    g_out.resultSize = target->size();
    g_out.result = target->Release();
    return 0;
  }
  if (target->overLimit)
    g_out.error = TooLarge(u"the patched file would be", u"打补丁后的文件会");
  else if (target->outOfMemory)
    g_out.error = kNoMemory;
  // Refused by its CRC-32 before anything was written: say why, as zelp does.
  const bool refused = o == zelp::Outcome::kCrcMismatch;
  zelp::Diagnosis d;
  if (refused) d = zelp::Diagnose(*g_patch, view, g_base);
  g_out.explanation = InBoth([&](zelp::Language l) {
    std::u16string text = std::u16string(zelp::Explanation(o, l)) + u"\n";
    return refused ? text + zelp::DiagnosisText(d, targetName, l) : text;
  });
  return zelp::ExitClassOf(o) == zelp::ExitClass::kExitNotTheFile ? 3 : 1;
}

// Builds the patch that turns `original` into `modified` (both taken over and
// freed here), with the description `description` (null for none): the bytes
// of the text file `descriptionName` (UTF-8, or UTF-16 with a byte order
// mark), or typed text in UTF-8 when the name is "". When `stub` is given
// (taken over too), the patch is packed onto that dialog program.
// 0 with the file in zelp_result_* and a line in zelp_text(4); 1 with the
// reason in zelp_text(5).
EMSCRIPTEN_KEEPALIVE int zelp_create(uint8_t* original, double originalSize, uint8_t* modified,
                                     double modifiedSize, const char* description,
                                     double descriptionSize, const char* descriptionName,
                                     uint8_t* stubData, double stubSize, int crc, int format) {
  using namespace zelp;
  ClearOutcome();
  WebFile origFile(original, static_cast<size_t>(originalSize));
  WebFile modFile(modified, static_cast<size_t>(modifiedSize));
  ViewFile modData(modified, static_cast<size_t>(modifiedSize));
  std::unique_ptr<WebFile> stub;
  if (stubData) stub = std::make_unique<WebFile>(stubData, static_cast<size_t>(stubSize));

  author::PatchOptions options;
  options.crc = crc != 0;
  if (description) {
    size_t units = 0;
    std::u16string file;
    Utf8ToUtf16(descriptionName, file);
    author::DescriptionError e = author::DescriptionFromBytes(
        std::string(description, static_cast<size_t>(descriptionSize)), options.description, units);
    if (e != author::DescriptionError::kNone) {
      const Bilingual why = author::DescriptionErrorText(e, file, units);
      g_out.error = InBoth([&](Language l) { return why.In(l); });
      return 1;
    }
    options.hasDescription = true;
  }

  const auto kind = static_cast<PatchKind>(format);
  if (Foreign(kind)) {
    if (kind != PatchKind::kBps && options.hasDescription) {
      const Bilingual why = author::NoDescriptionText(kind);
      g_out.error = InBoth([&](Language l) { return why.In(l); });
      return 1;
    }
    std::vector<uint8_t> patch;
    author::ForeignStats stats;
    Bilingual error;
    if (!author::EncodeForeign(kind, author::Bytes(origFile.data(), origFile.size()),
                               author::Bytes(modFile.data(), modFile.size()),
                               Utf8(CrLfToLf(options.description)), patch, stats, error)) {
      g_out.error = InBoth([&](Language l) { return error.In(l); });
      return 1;
    }
    const Bilingual said =
        author::WroteForeignText(kind, u"", static_cast<int64_t>(patch.size()), stats);
    g_out.explanation = InBoth([&](Language l) { return said.In(l); });
    g_out.result = static_cast<uint8_t*>(std::malloc(patch.size() ? patch.size() : 1));
    if (!g_out.result) {
      g_out.error = kNoMemory;
      return 1;
    }
    std::memcpy(g_out.result, patch.data(), patch.size());
    g_out.resultSize = patch.size();
    return 0;
  }
  WebFile out;
  if (stub) {
    StampInfo stamp;
    Bilingual why;
    if (!author::CopyStub(*stub, {u"the dialog program beside this page", u"本页旁边的补丁程序"},
                          out, stamp, why)) {
      g_out.error = InBoth([&](Language l) { return why.In(l); });
      return 1;
    }
  }
  modFile.progressPhase = 4;
  author::PatchStats stats;
  author::PatchStatus status = author::WritePatch(origFile, modFile, modData, out, options, stats);
  if (status != author::PatchStatus::kOk) {
    g_out.error = out.overLimit ? TooLarge(u"the patch would be", u"补丁会") : kNoMemory;
    return 1;
  }
  const Bilingual wrote =
      author::WroteText(stub != nullptr, u"", static_cast<int64_t>(out.size()), stats);
  const Bilingual notes = author::CreateNotes(stats.records == 0 && originalSize == modifiedSize,
                                              options.crc && stats.targetCrc == 0, u"", u"");
  g_out.explanation = InBoth([&](Language l) { return wrote.In(l) + u"\n" + notes.In(l); });
  g_out.resultSize = out.size();
  g_out.result = out.Release();
  return 0;
}

// The largest file the page takes, for the page's own check before reading.
EMSCRIPTEN_KEEPALIVE double zelp_max_file() { return static_cast<double>(kMaxFileBytes); }

}  // extern "C"
