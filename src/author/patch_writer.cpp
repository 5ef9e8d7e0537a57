#include "author/patch_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "author/differ.h"
#include "common/text.h"
#include "engine/format.h"
#include "engine/header.h"

namespace zelp::author {

namespace {

class BufferedOut {
 public:
  BufferedOut(CKOVA_xFile& file, size_t capacity) : file_(file), capacity_(capacity) {
    buffer_.reserve(capacity_);
  }
  bool Put(const void* data, size_t n) {
    written_ += n;
    if (buffer_.size() + n > capacity_ && !Flush()) return false;
    if (n >= capacity_) return WriteAll(file_, data, n);
    const auto* p = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + n);
    return true;
  }
  bool Flush() {
    bool ok = buffer_.empty() || WriteAll(file_, buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }
  uint64_t written() const { return written_; }

 private:
  CKOVA_xFile& file_;
  size_t capacity_;
  std::vector<uint8_t> buffer_;
  uint64_t written_ = 0;
};

// Reads record data from the modified file. Records come in increasing
// order, so a forward window serves most of them without a seek.
class DataReader {
 public:
  // The window is left uninitialised: only what is read into it is used, and
  // zeroing 1 MiB per patch cost more than writing a small patch.
  DataReader(CKOVA_xFile& file, size_t capacity)
      : file_(file), window_(new uint8_t[capacity]), capacity_(capacity) {}
  bool Get(uint64_t start, size_t n, uint8_t* out) {
    if (start < at_ || start + n > at_ + have_) {
      if (!file_.Seek(static_cast<int64_t>(start))) return false;
      have_ = 0;
      at_ = start;
      while (have_ < n) {  // fill at least the record, as much as the window holds
        uint32_t got = file_.Read(window_.get() + have_, static_cast<uint32_t>(capacity_ - have_));
        if (got == 0) return false;
        have_ += got;
      }
    }
    std::memcpy(out, window_.get() + (start - at_), n);
    return true;
  }

 private:
  CKOVA_xFile& file_;
  std::unique_ptr<uint8_t[]> window_;
  size_t capacity_;
  uint64_t at_ = 0;
  size_t have_ = 0;
};

class Writer : public RunSink, public RecordSink {
 public:
  Writer(BufferedOut& out, DataReader& data, const PatchOptions& options, PatchStats& stats)
      : out_(out), data_(data), options_(options), stats_(stats), planner_(*this, options.limits) {}

  bool OnRun(uint64_t start, uint64_t length) override { return planner_.AddRun(start, length); }
  bool Finish() { return planner_.Finish(); }

  // One record: relative while the distance from the previous record's
  // start fits, absolute otherwise.
  bool OnRecord(uint64_t start, uint64_t length) override {
    uint8_t head[1 + 8 + 2];
    size_t n;
    uint64_t distance = start - previous_;
    if (distance <= options_.limits.maxRelative && distance <= 0xFFFFFFFFull) {
      head[0] = kRecRelative;
      PutLe32(head + 1, static_cast<uint32_t>(distance));
      n = 5;
    } else {
      head[0] = kRecAbsolute;
      PutLe64(head + 1, start);
      n = 9;
    }
    PutLe16(head + n, static_cast<uint16_t>(length));
    n += 2;
    previous_ = start;
    if (!data_.Get(start, static_cast<size_t>(length), record_)) {
      dataFailed_ = true;
      return false;
    }
    ++stats_.records;
    stats_.dataBytes += length;
    return out_.Put(head, n) && out_.Put(record_, static_cast<size_t>(length));
  }
  uint64_t ForcedCuts() const { return planner_.ForcedCuts(); }
  bool dataFailed() const { return dataFailed_; }

 private:
  BufferedOut& out_;
  DataReader& data_;
  const PatchOptions& options_;
  PatchStats& stats_;
  RecordPlanner planner_;
  uint64_t previous_ = 0;
  bool dataFailed_ = false;
  uint8_t record_[65536];
};

}  // namespace

PatchStatus WritePatch(CKOVA_xFile& original, CKOVA_xFile& modified, CKOVA_xFile& modifiedData,
                       CKOVA_xFile& out, const PatchOptions& options, PatchStats& stats) {
  stats = PatchStats{};
  int64_t base = 0;
  if (!out.Tell(base)) return PatchStatus::kWrite;
  // A record's data must fit the data window whole.
  const size_t ioBuffer = std::max<size_t>(options.ioBuffer, 0xFFFF);
  BufferedOut buffered(out, ioBuffer);
  // The header goes last, once the CRC is known; hold its place.
  uint8_t header[kHeaderSize] = {};
  if (!buffered.Put(header, sizeof header)) return PatchStatus::kWrite;

  DataReader data(modifiedData, ioBuffer);
  auto writer = std::make_unique<Writer>(buffered, data, options, stats);
  DiffOptions diffOptions;
  diffOptions.crc = options.crc;
  diffOptions.blockSize = options.blockSize;
  DiffResult diff;
  switch (DiffFiles(original, modified, *writer, diffOptions, diff)) {
    case DiffStatus::kReadOriginal: return PatchStatus::kReadOriginal;
    case DiffStatus::kReadModified: return PatchStatus::kReadModified;
    case DiffStatus::kStopped:
      return writer->dataFailed() ? PatchStatus::kReadModified : PatchStatus::kWrite;
    case DiffStatus::kOk: break;
  }
  if (!writer->Finish())
    return writer->dataFailed() ? PatchStatus::kReadModified : PatchStatus::kWrite;
  stats.forcedCuts = writer->ForcedCuts();
  const uint8_t end = kRecEnd;
  if (!buffered.Put(&end, 1)) return PatchStatus::kWrite;

  uint64_t descriptionOffset = 0;
  if (options.hasDescription) {
    descriptionOffset = buffered.written();
    std::vector<uint8_t> text;
    text.reserve(options.description.size() * 2 + 2);
    for (char16_t c : options.description) {
      text.push_back(static_cast<uint8_t>(c));
      text.push_back(static_cast<uint8_t>(c >> 8));
    }
    text.push_back(0);
    text.push_back(0);
    if (!buffered.Put(text.data(), text.size())) return PatchStatus::kWrite;
  }
  if (!buffered.Flush()) return PatchStatus::kWrite;
  stats.patchSize = buffered.written();
  stats.targetSize = diff.modifiedSize;
  stats.targetCrc = options.crc ? diff.originalCrc : 0;

  PatchHeader fields;
  fields.targetSize = diff.modifiedSize;
  fields.targetCrc = stats.targetCrc;
  fields.descriptionOffset = descriptionOffset;
  EncodeHeader(fields, header);
  if (!out.Seek(base) || !WriteAll(out, header, sizeof header)) return PatchStatus::kWrite;
  if (!out.Seek(base + static_cast<int64_t>(stats.patchSize))) return PatchStatus::kWrite;
  return PatchStatus::kOk;
}

Bilingual WroteText(bool program, const std::u16string& output, int64_t size,
                    const PatchStats& stats) {
  return Fill2(program ? u"wrote program{0}: {1} bytes, {2} records, {3} data bytes"
                       : u"wrote patch{0}: {1} bytes, {2} records, {3} data bytes",
               program ? u"已写出补丁程序{0}：{1} 字节，{2} 条记录，{3} 字节数据"
                       : u"已写出补丁{0}：{1} 字节，{2} 条记录，{3} 字节数据",
               {output.empty() ? u"" : u" " + Quote(output), Decimal(size),
                Decimal(static_cast<int64_t>(stats.records)),
                Decimal(static_cast<int64_t>(stats.dataBytes))});
}

Bilingual WroteForeignText(PatchKind kind, const std::u16string& output, int64_t size,
                           const ForeignStats& stats) {
  const bool ips = kind == PatchKind::kIps, ups = kind == PatchKind::kUps;
  return Fill2(ips ? u"wrote {0} patch{1}: {2} bytes, {3} records, {4} bytes of the modified file"
               : ups
                   ? u"wrote {0} patch{1}: {2} bytes, {3} hunks, {4} bytes of the modified file"
                   : u"wrote {0} patch{1}: {2} bytes, {3} actions, {4} bytes of the modified file",
               ips ? u"已写出 {0} 补丁{1}：{2} 字节，{3} 条记录，含修改后文件的 {4} 字节"
               : ups ? u"已写出 {0} 补丁{1}：{2} 字节，{3} 段，含修改后文件的 {4} 字节"
                     : u"已写出 {0} 补丁{1}：{2} 字节，{3} 个操作，含修改后文件的 {4} 字节",
               {KindName(kind), output.empty() ? u"" : u" " + Quote(output), Decimal(size),
                Decimal(static_cast<int64_t>(stats.steps)),
                Decimal(static_cast<int64_t>(stats.literalBytes))});
}

Bilingual CreateNotes(bool identical, bool zeroCrc, const std::u16string& original,
                      const std::u16string& modified) {
  Bilingual notes;
  auto add = [&](const Bilingual& b) {
    notes.english += b.english + u"\n";
    notes.chinese += b.chinese + u"\n";
  };
  if (identical)
    add(original.empty()
            ? Bilingual{u"warning: the two files are identical: the patch changes nothing",
                        u"警告：两个文件完全相同：补丁不会改动任何内容"}
            : Fill2(u"warning: {0} and {1} are identical: the patch changes nothing",
                    u"警告：{0} 和 {1} 完全相同：补丁不会改动任何内容",
                    {Quote(original), Quote(modified)}));
  // The format reads a CRC of 0 as "no check"; say so when that comes from
  // the file itself (an empty original, or one in four billion).
  if (zeroCrc)
    add(
        Fill2(u"note: the CRC-32 of {0} is 0, which patches read as \"no check\": it applies to "
              u"any file",
              u"注意：{1}的CRC32是 0，补丁把它当作“不检查”：这个补丁可以打在任何文件上",
              {original.empty() ? u"the original" : Quote(original),
               original.empty() ? u"原文件" : Quote(original) + u" "}));
  return notes;
}

Bilingual NoDescriptionText(PatchKind kind) {
  return Fill2(kind == PatchKind::kIps
                   ? u"an {0} patch carries no description; only BPS (as metadata) and ZELP do"
                   : u"a {0} patch carries no description; only BPS (as metadata) and ZELP do",
               u"{0} 补丁不能带说明；只有 BPS（作为元数据）和 ZELP 补丁可以", {KindName(kind)});
}

}  // namespace zelp::author
