// The least any in-place patcher that promises a durable result must do,
// to measure `zelp apply` against:
//   zelp_limit PATCH TARGET [--journal]
// takes the changes out of the patch first (not timed), then, timed: reads
// the target once (its CRC-32), writes the changed bytes, flushes once.
// With --journal it also writes the old bytes of the changed ranges (with
// their position and length) to a file beside the target and makes that
// and its name durable before the first change; after the target's flush
// it empties that file durably (a success may only be claimed once the
// journal can no longer undo it) and removes it.
// Prints the milliseconds taken; exit 1 on failure.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/format.h"
#include "engine/header.h"
#include "engine/patch_stub.h"
#include "file/crc32.h"
#include "file/file.h"
#include "support/mem_file.h"

namespace {

struct Change {
  int64_t at;
  uint32_t len;
  size_t data;  // offset in the bytes
};

// A target that keeps what the record stream writes instead of writing it.
class Recorder : public MemFile {
 public:
  int64_t WriteAt(int64_t position, const void* buffer, uint32_t count) override {
    // Records that continue the last one are one change, as any writer would join them.
    if (!changes.empty() && changes.back().at + changes.back().len == position) {
      changes.back().len += count;
    } else {
      changes.push_back({position, count, bytes.size()});
    }
    bytes.insert(bytes.end(), static_cast<const uint8_t*>(buffer),
                 static_cast<const uint8_t*>(buffer) + count);
    return count;
  }
  std::vector<Change> changes;
  std::vector<uint8_t> bytes;
};

std::u16string Wide(const char* s) {
  std::u16string w;
  for (; *s; ++s) w += static_cast<char16_t>(static_cast<unsigned char>(*s));  // ASCII paths
  return w;
}

bool WriteAllFd(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool SyncFolder(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  bool ok = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const bool journal = argc == 4 && std::string(argv[3]) == "--journal";
  if (argc != 3 && !journal) {
    std::fprintf(stderr, "usage: zelp_limit PATCH TARGET [--journal]\n");
    return 2;
  }
  CKOVA_File patch;
  int64_t patchSize = 0;
  zelp::PatchHeader h;
  auto stub = std::make_unique<CPatchStub>(0);
  Recorder rec;
  if (!zelp::Open(Wide(argv[1]).c_str(), patch, zelp::kModeRead, zelp::kShareRead) ||
      (patch.GetSize(patchSize), zelp::ReadHeader(patch, patchSize, h)) !=
          zelp::HeaderFault::kNone ||
      !patch.Seek(h.recordsOffset) || !stub->ApplyRecords(patch, rec, nullptr)) {
    std::fprintf(stderr, "zelp_limit: cannot read the patch\n");
    return 1;
  }
  const std::string target = argv[2], journalPath = target + ".limit-journal";

  auto start = std::chrono::steady_clock::now();
  int fd = ::open(target.c_str(), O_RDWR);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size != h.targetSize) return 1;
  const size_t size = static_cast<size_t>(st.st_size);
  auto* map =
      static_cast<uint8_t*>(::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  if (map == MAP_FAILED) return 1;
  ::madvise(map, size, MADV_SEQUENTIAL);
  if (zelp::Crc32Of(map, size) != h.targetCrc) return 1;
  int jfd = -1;
  if (journal) {
    std::vector<uint8_t> j;
    for (const Change& c : rec.changes) {
      uint8_t head[12];
      zelp::PutLe64(head, static_cast<uint64_t>(c.at));
      zelp::PutLe32(head + 8, c.len);
      j.insert(j.end(), head, head + 12);
      j.insert(j.end(), map + c.at, map + c.at + c.len);
    }
    jfd = ::open(journalPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (jfd < 0 || !WriteAllFd(jfd, j.data(), j.size()) || ::fsync(jfd) != 0 ||
        !SyncFolder(journalPath))
      return 1;
  }
  for (const Change& c : rec.changes) std::memcpy(map + c.at, &rec.bytes[c.data], c.len);
  if (::munmap(map, size) != 0 || ::fsync(fd) != 0 || ::close(fd) != 0) return 1;
  if (journal && (::ftruncate(jfd, 0) != 0 || ::fsync(jfd) != 0 || ::close(jfd) != 0 ||
                  ::unlink(journalPath.c_str()) != 0))
    return 1;
  auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
  std::printf("%.2f\n", ms.count());
  return 0;
}
