// Makes the benchmark inputs: a pseudo-random "ROM", a copy with scattered
// changes, and a ZELP 3.0 patch from one to the other written straight from
// the differing bytes (independent of `zelp create`).
//
//   zelp_bench_gen rom OUT SIZE SEED
//   zelp_bench_gen mutate IN OUT CHANGES MAXLEN SEED   (random places, 1..MAXLEN bytes)
//   zelp_bench_gen spread IN OUT COUNT LEN             (evenly spaced, LEN bytes each)
//   zelp_bench_gen patch OLD NEW PATCH [--no-crc]
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint64_t g_state;
uint64_t Next() {  // xorshift64*
  g_state ^= g_state >> 12;
  g_state ^= g_state << 25;
  g_state ^= g_state >> 27;
  return g_state * 2685821657736338717ull;
}

std::vector<uint8_t> Load(const char* path) {
  std::vector<uint8_t> d;
  FILE* f = std::fopen(path, "rb");
  if (!f) std::perror(path), std::exit(1);
  std::fseek(f, 0, SEEK_END);
  d.resize(static_cast<size_t>(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(d.data(), 1, d.size(), f) != d.size()) std::perror(path), std::exit(1);
  std::fclose(f);
  return d;
}

void Save(const char* path, const std::vector<uint8_t>& d) {
  FILE* f = std::fopen(path, "wb");
  if (!f || std::fwrite(d.data(), 1, d.size(), f) != d.size() || std::fclose(f) != 0)
    std::perror(path), std::exit(1);
}

void Put(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "rom" && argc == 5) {
    std::vector<uint8_t> d(std::strtoull(argv[3], nullptr, 0));
    g_state = std::strtoull(argv[4], nullptr, 0) | 1;
    for (size_t i = 0; i + 8 <= d.size(); i += 8) {
      uint64_t v = Next();
      std::memcpy(&d[i], &v, 8);
    }
    Save(argv[2], d);
    return 0;
  }
  if (cmd == "mutate" && argc == 7) {
    std::vector<uint8_t> d = Load(argv[2]);
    uint64_t changes = std::strtoull(argv[4], nullptr, 0),
             maxLen = std::strtoull(argv[5], nullptr, 0);
    g_state = std::strtoull(argv[6], nullptr, 0) | 1;
    for (uint64_t c = 0; c < changes; ++c) {
      uint64_t len = 1 + Next() % maxLen;
      uint64_t at = Next() % (d.size() - len);
      for (uint64_t i = 0; i < len; ++i)
        d[at + i] = static_cast<uint8_t>(d[at + i] ^ (1 + Next() % 255));
    }
    Save(argv[3], d);
    return 0;
  }
  if (cmd == "spread" && argc == 6) {
    std::vector<uint8_t> d = Load(argv[2]);
    uint64_t count = std::strtoull(argv[4], nullptr, 0), len = std::strtoull(argv[5], nullptr, 0);
    uint64_t step = d.size() / count;
    for (uint64_t c = 0; c < count; ++c)
      for (uint64_t i = 0; i < len && i < step; ++i) d[c * step + i] ^= 0x5A;
    Save(argv[3], d);
    return 0;
  }
  if (cmd == "patch" && (argc == 5 || argc == 6)) {
    std::vector<uint8_t> a = Load(argv[2]), b = Load(argv[3]);
    bool crc = argc == 5;
    std::vector<uint8_t> out;
    const char ident[16] = "KOVA-PATCH3.0";
    out.insert(out.end(), ident, ident + 16);
    Put(out, b.size(), 8);
    Put(out, crc ? crc32(0, a.data(), static_cast<uInt>(a.size())) : 0, 4);
    Put(out, 40, 4);
    size_t descAt = out.size();
    Put(out, 0, 8);
    uint64_t last = 0, records = 0;
    // A run ends after 8 equal bytes (a new record costs 7) or 65,535 bytes.
    for (size_t i = 0; i < b.size();) {
      if (i < a.size() && a[i] == b[i]) {
        ++i;
        continue;
      }
      size_t end = i, same = 0;
      while (end < b.size() && end - i < 65535 && same < 8) {
        same = (end < a.size() && a[end] == b[end]) ? same + 1 : 0;
        ++end;
      }
      end -= same;
      out.push_back(0x01);
      Put(out, i - last, 4);  // gaps here stay far below 4 GiB
      Put(out, end - i, 2);
      out.insert(out.end(), b.begin() + static_cast<long>(i), b.begin() + static_cast<long>(end));
      last = i;
      i = end;
      ++records;
    }
    out.push_back(0xFF);
    uint64_t desc = out.size();
    for (int i = 0; i < 8; ++i) out[descAt + i] = static_cast<uint8_t>(desc >> (8 * i));
    const char16_t text[] = u"benchmark patch";
    for (char16_t c : text) Put(out, c, 2);
    Save(argv[4], out);
    std::printf("%llu records\n", static_cast<unsigned long long>(records));
    return 0;
  }
  std::fprintf(stderr, "usage: see the comment at the top of gen_case.cpp\n");
  return 2;
}
