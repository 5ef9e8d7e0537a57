// An in-memory CKOVA_xFile for tests and fuzzers, with an optional size limit
// that stands in for a full disk.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "file/xfile.h"

class MemFile : public CKOVA_xFile {
 public:
  MemFile() = default;
  explicit MemFile(std::vector<uint8_t> bytes) : data(std::move(bytes)) {}

  uint32_t Read(void* buffer, uint32_t count) override {
    if (!open || pos >= static_cast<int64_t>(data.size())) return 0;
    uint64_t left = data.size() - static_cast<uint64_t>(pos);
    uint32_t n = left < count ? static_cast<uint32_t>(left) : count;
    std::memcpy(buffer, data.data() + pos, n);
    pos += n;
    return n;
  }
  uint32_t Write(const void* buffer, uint32_t count) override {
    // Writing nothing leaves the size alone, as a platform write does.
    if (!open || count == 0 || pos > limit - static_cast<int64_t>(count)) return 0;
    if (pos + count > static_cast<int64_t>(data.size())) data.resize(pos + count);
    std::memcpy(data.data() + pos, buffer, count);
    pos += count;
    return count;
  }
  void Close() override { open = false; }
  void GetSize(int64_t& size) override {
    if (open) size = static_cast<int64_t>(data.size());
  }
  int Tell(int64_t& position) override {
    if (!open) return 0;
    position = pos;
    return 1;
  }
  bool Seek(int64_t position) override {
    if (!open || position < 0 || position > reach) return false;
    pos = position;
    return true;
  }
  uint32_t Crc32() override { return Crc32OfFile(*this); }
  bool IsOpen() override { return open; }
  bool SetEnd() override {
    // Cutting a file never needs space; only growth past the limit fails.
    if (!open || (pos > limit && pos > static_cast<int64_t>(data.size()))) return false;
    data.resize(static_cast<size_t>(pos));
    return true;
  }
  bool Reserve(int64_t size) override {
    if (!open || size > limit) return false;
    if (size > static_cast<int64_t>(data.size())) data.resize(static_cast<size_t>(size));
    return true;
  }
  bool Flush() override { return open; }

  std::vector<uint8_t> data;
  int64_t pos = 0;
  bool open = true;
  int64_t limit = int64_t{1} << 32;  // writes and sizes beyond fail, like a full disk
  int64_t reach = INT64_MAX;         // positions beyond cannot be sought, like ext4's 2^44
};
