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
#include "engine/messages.h"
#include "engine/patch_base.h"
#include "engine/patch_stub.h"
#include "engine/stamp.h"
#include "file/crc32.h"
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

// What the last call produced, read by the worker through zelp_text.
struct Outcome {
  std::u16string message16;  // the engine's last report
  std::string caption, summary, description, message, explanation, error;
  uint8_t* result = nullptr;
  size_t resultSize = 0;
  double crcMs = 0, recordsMs = 0;
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

// The engine's English lines as the page shows them (no final line break).
std::string Lines(const std::u16string& text) {
  std::string s = Utf8(text);
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

std::string Damage(const zelp::StreamCheck& check) {
  return check.damage == zelp::PatchDamage::kNone
             ? std::string()
             : "the patch is damaged: " + Utf8(zelp::DamageText(check));
}

void CaptureReport(void*, const char16_t* text, void*) {
  g_out.message16 = text;
  g_out.message = Utf8(text);
}

// The loaded IPS, UPS or BPS patch applied to `source` (the user's file past
// `skip` bytes of header, which the result keeps): as zelp_apply returns.
int ApplyForeign(WebFile& target, CKOVA_xFile& source, int64_t skip, const std::u16string& name) {
  zelp::Diagnosis d = zelp::DiagnoseForeign(g_info, source);
  if (d.verdict != zelp::Verdict::kMatches) {
    g_out.message = Utf8(zelp::kMsgCrcMismatch);
    g_out.explanation = Lines(zelp::ForeignDiagnosisText(g_info, d, name));
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
    g_out.error = Utf8(zelp::ForeignFaultText(g_info, fault));
    return 1;
  }
  g_out.message = Utf8(zelp::kMsgSuccess);
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

// 0 caption, 1 summary, 2 description, 3 the engine's own message (Chinese),
// 4 English explanation lines, 5 an error of the page's own (English).
EMSCRIPTEN_KEEPALIVE const char* zelp_text(int which) {
  switch (which) {
    case 0: return g_out.caption.c_str();
    case 1: return g_out.summary.c_str();
    case 2: return g_out.description.c_str();
    case 3: return g_out.message.c_str();
    case 4: return g_out.explanation.c_str();
    case 5: return g_out.error.c_str();
  }
  return "";
}

// Advances a running CRC-32 (start at 0xFFFFFFFF, finish by inverting)
// over `size` bytes at `data`.
EMSCRIPTEN_KEEPALIVE uint32_t zelp_crc_update(uint32_t running, const uint8_t* data, double size) {
  return zelp::Crc32Update(running, data, static_cast<size_t>(size));
}

EMSCRIPTEN_KEEPALIVE uint8_t* zelp_result_data() { return g_out.result; }
EMSCRIPTEN_KEEPALIVE double zelp_result_size() { return static_cast<double>(g_out.resultSize); }
// Milliseconds: 0 CRC-32 of the target, 1 the record passes.
EMSCRIPTEN_KEEPALIVE double zelp_timing(int which) {
  return which == 0 ? g_out.crcMs : g_out.recordsMs;
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
  ClearOutcome();
  g_patch = std::make_unique<WebFile>(data, static_cast<size_t>(size));
  g_out.caption = Utf8(zelp::g_caption);
  std::u16string error, patchName;
  zelp::Utf8ToUtf16(name, patchName);
  g_kind = zelp::SniffPatch(*g_patch);
  g_patch->Seek(0);  // where the ZELP reading expects the file
  if (Foreign(g_kind)) {
    g_base = 0;
    g_info = zelp::InspectForeign(*g_patch, g_kind);
    g_resultSize = g_info.checksSource ? static_cast<int64_t>(g_info.targetSize) : 0;
    g_out.summary = "format: " + Utf8(zelp::KindName(g_kind));
    if (g_info.checksSource)
      g_out.summary += "\nsource: " + std::to_string(g_info.sourceSize) + " bytes, CRC-32 " +
                       Utf8(zelp::Hex32(g_info.sourceCrc)) +
                       "\nresult: " + std::to_string(g_info.targetSize) + " bytes, CRC-32 " +
                       Utf8(zelp::Hex32(g_info.targetCrc));
    else
      g_out.summary += "\nsource: any file (an IPS patch checks nothing)";
    std::u16string metadata;
    if (zelp::Utf8ToUtf16(g_info.metadata, metadata))
      g_out.description = Utf8(zelp::CrLfToLf(metadata));
    if (g_info.fault != zelp::ForeignFault::kNone) {
      g_out.error = "the " + Utf8(zelp::KindName(g_kind)) +
                    " patch is damaged: " + Utf8(zelp::ForeignFaultText(g_info, g_info.fault));
      g_patch.reset();
      return 2;
    }
    return 1;
  }
  if (!zelp::FindPatchBase(*g_patch, patchName, g_base, error)) {
    g_out.error = Utf8(error);
    g_patch.reset();
    return 0;
  }
  auto stub = std::make_unique<CPatchStub>(g_base);
  if (!stub->LoadPatchInfoFromFile(*g_patch)) {
    // What the dialog says when its own patch cannot be read.
    g_out.message = Utf8(zelp::kMsgInitFailed);
    g_out.explanation = Damage(zelp::CheckPatch(*g_patch, g_base));
    if (g_out.explanation.empty()) g_out.explanation = "the patch cannot be read";
    g_patch.reset();
    return 0;
  }
  g_out.summary = PageText(stub->summary);
  g_out.description = PageText(stub->info.description);
  g_resultSize = stub->info.targetSize;
  zelp::StreamCheck check = zelp::CheckPatch(*g_patch, g_base);
  if (check.damage != zelp::PatchDamage::kNone) {
    g_out.error = Damage(check);
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
// here), whose CRC-32 is `crc` when `crcKnown` (the worker takes it while
// the file arrives, so that hashing overlaps reading). 0 success (the
// patched bytes in zelp_result_*), 1 failure, 3 the file is not the one the
// patch was made for. `name` names the file in the explanations. Messages
// as zelp_text says.
EMSCRIPTEN_KEEPALIVE int zelp_apply(uint8_t* data, double size, int crcKnown, uint32_t crc,
                                    const char* name, int header) {
  ClearOutcome();
  auto target = std::make_unique<WebFile>(data, static_cast<size_t>(size));
  const int64_t skip = header ? zelp::kCopierHeaderSize : 0;
  if (crcKnown && !skip) target->KnowCrc(size ? crc : 0);
  if (!g_patch) {
    g_out.error = "choose a patch first";
    return 1;
  }
  if (static_cast<int64_t>(size) < skip) {
    g_out.error = "the file is shorter than a 512-byte copier header";
    return 1;
  }
  std::u16string targetName;
  zelp::Utf8ToUtf16(name, targetName);
  zelp::OffsetFile view(*target, skip);
  if (Foreign(g_kind)) return ApplyForeign(*target, view, skip, targetName);
  auto stub = std::make_unique<CPatchStub>(g_base);
  zelp::ReportSink old = zelp::SetReportSink(CaptureReport, nullptr);
  g_patch->progressPhase = 2;
  double start = emscripten_get_now();
  int ok = stub->ApplyOpened(*g_patch, view, nullptr);
  double total = emscripten_get_now() - start;
  g_patch->progressPhase = 0;
  zelp::SetReportSink(old, nullptr);
  g_out.crcMs = target->crcMs;
  g_out.recordsMs = total - target->crcMs;
  if (ok) {
    g_out.resultSize = target->size();
    g_out.result = target->Release();
    return 0;
  }
  if (target->overLimit)
    g_out.error =
        "the patched file would be larger than 1 GiB (1073741824 bytes), the most this "
        "page can hold. Use the zelp command or the Windows program.";
  else if (target->outOfMemory)
    g_out.error =
        "the browser would not give this page enough memory for the patched file. "
        "Close other tabs and try again, or use the zelp command.";
  g_out.explanation = Lines(zelp::ReportText(g_out.message16));
  if (g_out.message16 != zelp::kMsgCrcMismatch) return 1;
  // Refused by its CRC-32 before anything was written: say why, as zelp does.
  zelp::Diagnosis d = zelp::Diagnose(*g_patch, view, g_base);
  g_out.explanation += "\n" + Lines(zelp::DiagnosisText(d, targetName));
  return 3;
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
    // As zelp create says it, naming the file when the text came from one.
    std::string name = *descriptionName ? "the description '" + std::string(descriptionName) + "' "
                                        : std::string("the description ");
    switch (
        author::DescriptionFromBytes(std::string(description, static_cast<size_t>(descriptionSize)),
                                     options.description, units)) {
      case author::DescriptionError::kNone: break;
      case author::DescriptionError::kInvalidUtf8:
        g_out.error = name + "is not valid UTF-8 (nor UTF-16 with a byte order mark)";
        if (*descriptionName)
          g_out.error +=
              "; if it was written on a Chinese Windows system, convert it first: "
              "iconv -f GBK -t UTF-8 '" +
              std::string(descriptionName) + "' > description-utf8.txt";
        return 1;
      case author::DescriptionError::kInvalidUtf16:
        g_out.error = name + "is not valid UTF-16";
        return 1;
      case author::DescriptionError::kNul:
        g_out.error = name + "contains a NUL character";
        return 1;
      case author::DescriptionError::kTooLong:
        g_out.error = name + "is too long: " + std::to_string(units) + " UTF-16 units, at most " +
                      std::to_string(author::kMaxDescriptionUnits) + " fit";
        return 1;
    }
    options.hasDescription = true;
  }

  const auto kind = static_cast<PatchKind>(format);
  if (Foreign(kind)) {
    if (kind != PatchKind::kBps && options.hasDescription) {
      g_out.error = (kind == PatchKind::kIps ? "an " : "a ") + Utf8(KindName(kind)) +
                    " patch carries no description; only BPS (as metadata) and ZELP do";
      return 1;
    }
    std::vector<uint8_t> patch;
    author::ForeignStats stats;
    std::u16string error;
    if (!author::EncodeForeign(kind, author::Bytes(origFile.data(), origFile.size()),
                               author::Bytes(modFile.data(), modFile.size()),
                               Utf8(CrLfToLf(options.description)), patch, stats, error)) {
      g_out.error = Utf8(error);
      return 1;
    }
    g_out.explanation = "wrote " + Utf8(KindName(kind)) +
                        " patch: " + std::to_string(patch.size()) + " bytes, " +
                        std::to_string(stats.steps) + " steps, " +
                        std::to_string(stats.literalBytes) + " bytes of the modified file";
    g_out.result = static_cast<uint8_t*>(std::malloc(patch.size() ? patch.size() : 1));
    if (!g_out.result) {
      g_out.error = "the browser would not give this page enough memory for the patch";
      return 1;
    }
    std::memcpy(g_out.result, patch.data(), patch.size());
    g_out.resultSize = patch.size();
    return 0;
  }
  WebFile out;
  if (stub) {
    zelp::StampInfo stamp;
    bool readFailed = false;
    if (zelp::LocateStamp(*stub, stamp) != zelp::StampStatus::kOk ||
        !author::HasDialogMark(*stub, stamp.imageSize, readFailed) ||
        !author::WriteStampedImage(*stub, stamp, out, readFailed)) {
      g_out.error = "the dialog program beside this page is not a ZELP program";
      return 1;
    }
  }
  modFile.progressPhase = 4;
  author::PatchStats stats;
  author::PatchStatus status = author::WritePatch(origFile, modFile, modData, out, options, stats);
  if (status != author::PatchStatus::kOk) {
    g_out.error = out.overLimit
                      ? "the patch would be larger than 1 GiB (1073741824 bytes), the most this "
                        "page can hold"
                      : "the browser would not give this page enough memory for the patch";
    return 1;
  }
  std::string what = stub ? "program" : "patch";
  g_out.explanation = "wrote " + what + ": " + std::to_string(out.size()) + " bytes, " +
                      std::to_string(stats.records) + " records, " +
                      std::to_string(stats.dataBytes) + " data bytes";
  if (stats.records == 0 && originalSize == modifiedSize)
    g_out.explanation += "\nnote: the two files are identical: the patch changes nothing";
  // The format reads a CRC of 0 as "no check"; say so when that comes from
  // the file itself (an empty original, or one in four billion).
  if (options.crc && stats.targetCrc == 0)
    g_out.explanation +=
        "\nnote: the CRC-32 of the original is 0, which patches read as \"no check\": it applies "
        "to any file";
  g_out.resultSize = out.size();
  g_out.result = out.Release();
  return 0;
}

// The largest file the page takes, for the page's own check before reading.
EMSCRIPTEN_KEEPALIVE double zelp_max_file() { return static_cast<double>(kMaxFileBytes); }

}  // extern "C"
