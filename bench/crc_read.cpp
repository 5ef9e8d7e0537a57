// How to read a whole file for its CRC-32: read() in pieces of several
// sizes, with and without posix_fadvise(SEQUENTIAL), against mmap with and
// without MAP_POPULATE / madvise. Each way runs 15 times on the file in the
// page cache ("hot") or just evicted from it ("cold"); prints median and best.
//   zelp_crc_read_bench FILE [cold]
// (The choice it informed: 1 MiB positioned reads, in file_posix.cpp.)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "file/crc32.h"

namespace {

using Clock = std::chrono::steady_clock;

size_t SizeOf(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

uint32_t ByRead(int fd, size_t piece, bool sequential) {
  size_t size = SizeOf(fd);
  if (sequential) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  std::vector<uint8_t> buf(piece);
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t at = 0; at < size;) {
    ssize_t n = pread(fd, buf.data(), std::min(piece, size - at), static_cast<off_t>(at));
    if (n <= 0) return 0;
    crc = zelp::Crc32Update(crc, buf.data(), static_cast<size_t>(n));
    at += static_cast<size_t>(n);
  }
  return ~crc;
}

uint32_t ByMap(int fd, int flags, int advice) {
  size_t size = SizeOf(fd);
  void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | flags, fd, 0);
  if (p == MAP_FAILED) return 0;
  if (advice) madvise(p, size, advice);
  uint32_t crc = ~zelp::Crc32Update(0xFFFFFFFFu, p, size);
  munmap(p, size);
  return crc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zelp_crc_read_bench FILE [cold]\n");
    return 2;
  }
  const bool cold = argc > 2 && std::string(argv[2]) == "cold";
  struct Way {
    const char* name;
    bool map;
    size_t piece;
    bool sequential;
    int flags, advice;
  };
  const Way ways[] = {
      {"read 64 KiB", false, 64 << 10, false, 0, 0},
      {"read 128 KiB", false, 128 << 10, false, 0, 0},
      {"read 256 KiB", false, 256 << 10, false, 0, 0},
      {"read 1 MiB", false, 1 << 20, false, 0, 0},
      {"read 4 MiB", false, 4 << 20, false, 0, 0},
      {"read 32 MiB", false, 32 << 20, false, 0, 0},
      {"read 1 MiB, fadvise SEQUENTIAL", false, 1 << 20, true, 0, 0},
      {"mmap", true, 0, false, 0, 0},
      {"mmap, MAP_POPULATE", true, 0, false, MAP_POPULATE, 0},
      {"mmap, MADV_SEQUENTIAL", true, 0, false, 0, MADV_SEQUENTIAL},
      {"mmap, MADV_WILLNEED", true, 0, false, 0, MADV_WILLNEED},
  };
  uint32_t expect = 0;
  for (const Way& w : ways) {
    std::vector<double> ms;
    for (int rep = 0; rep < 15; ++rep) {
      int fd = open(argv[1], O_RDONLY);
      if (fd < 0) return std::perror(argv[1]), 1;
      if (cold) {
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      } else {
        ByRead(fd, 1 << 20, false);  // in the page cache
      }
      auto t = Clock::now();
      uint32_t crc = w.map ? ByMap(fd, w.flags, w.advice) : ByRead(fd, w.piece, w.sequential);
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
      close(fd);
      if (!expect) expect = crc;
      if (crc != expect) std::printf("%s: a different CRC!\n", w.name);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-32s median %7.1f ms   best %7.1f ms\n", w.name, ms[ms.size() / 2], ms[0]);
  }
  return 0;
}
