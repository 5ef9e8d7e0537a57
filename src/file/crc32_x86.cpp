// CRC-32 by folding with carry-less multiplication (PCLMULQDQ, and
// VPCLMULQDQ on 256- and 512-bit vectors). The rest of the program stays
// baseline x86-64: only these functions are compiled for the wider
// instruction sets, and they run only after CPUID said they may.
//
// Folding: a 128-bit lane A followed, D bits later, by data B is replaced by
// A.lo * (x^(D+32) mod P) ^ A.hi * (x^(D-32) mod P) ^ B, which leaves the CRC
// unchanged (bit-reflected, as the CRC is). The last 16-byte lane is finished
// with the lookup tables, which needs no reduction constants.
#include "file/crc32_kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace zelp {

namespace {

constexpr uint64_t XPowModP(int n) {
  uint64_t r = 1;
  for (int i = 0; i < n; ++i) {
    r <<= 1;
    if (r >> 32 & 1) r ^= 0x104C11DB7ull;
  }
  return r;
}

constexpr uint64_t Reflect32(uint64_t v) {
  uint64_t r = 0;
  for (int i = 0; i < 32; ++i) r |= (v >> i & 1) << (31 - i);
  return r;
}

// The multipliers for the low and high halves of a lane moved D bits on
// (shifted by one: the product of two reflected operands is one bit short).
constexpr uint64_t KLo(int bits) { return Reflect32(XPowModP(bits + 32)) << 1; }
constexpr uint64_t KHi(int bits) { return Reflect32(XPowModP(bits - 32)) << 1; }
static_assert(KLo(512) == 0x154442BD4ull && KHi(512) == 0x1C6E41596ull,
              "the well-known fold-by-4 constants of this polynomial");

// A lane's pair of multipliers, worked out by the compiler (never at run time).
struct KPair {
  long long lo, hi;
};
template <int kBits>
constexpr KPair kFold = {static_cast<long long>(KLo(kBits)), static_cast<long long>(KHi(kBits))};

#define ZELP_TARGET_128 __attribute__((target("sse2,pclmul")))

template <int kBits>
ZELP_TARGET_128 inline __m128i K128() {
  return _mm_set_epi64x(kFold<kBits>.hi, kFold<kBits>.lo);
}

ZELP_TARGET_128 inline __m128i Fold128(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

ZELP_TARGET_128 inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds the remaining whole 16-byte blocks into `x`, then finishes `x` and
// the last bytes with the tables.
ZELP_TARGET_128 uint32_t Finish128(__m128i x, const uint8_t* p, size_t len) {
  const __m128i k = K128<128>();
  while (len >= 16) {
    x = _mm_xor_si128(Fold128(x, k), Load128(p));
    p += 16;
    len -= 16;
  }
  uint8_t lane[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lane), x);
  return Crc32UpdateSlicing16(Crc32UpdateSlicing16(0, lane, 16), p, len);
}

struct Features {
  bool clmul128 = false, clmul256 = false, clmul512 = false;
};

Features Detect() {
  Features f;
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
  f.clmul128 = c & bit_PCLMUL;
  bool osxsave = c & bit_OSXSAVE, avx = c & bit_AVX;
  if (!f.clmul128 || !osxsave || !avx || __get_cpuid_max(0, nullptr) < 7) return f;
  // The operating system must save the wider registers on a context switch.
  unsigned lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  bool ymmSaved = (lo & 0x06) == 0x06, zmmSaved = (lo & 0xE6) == 0xE6;
  __cpuid_count(7, 0, a, b, c, d);
  bool avx2 = b & bit_AVX2, avx512f = b & bit_AVX512F, vpclmul = c & (1u << 10);
#ifdef _WIN32
  // GCC does not realign the stack for 32- and 64-byte spills under the
  // Win64 ABI: keep to the 128-bit kernel there.
  (void)ymmSaved, (void)zmmSaved, (void)avx2, (void)avx512f, (void)vpclmul;
#else
  f.clmul256 = ymmSaved && avx2 && vpclmul;
  f.clmul512 = f.clmul256 && zmmSaved && avx512f;
#endif
  return f;
}

const Features& Cpu() {
  static const Features features = Detect();
  return features;
}

}  // namespace

bool CpuHasClmul128() { return Cpu().clmul128; }
bool CpuHasClmul256() { return Cpu().clmul256; }
bool CpuHasClmul512() { return Cpu().clmul512; }

ZELP_TARGET_128 uint32_t Crc32UpdateClmul128(uint32_t running, const void* data, size_t len) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (len < 64) return Crc32UpdateSlicing16(running, p, len);
  // Four lanes 64 bytes apart; the running value enters as the first bytes'
  // complement, as the tables would apply it.
  __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(running)));
  __m128i x1 = Load128(p + 16), x2 = Load128(p + 32), x3 = Load128(p + 48);
  p += 64;
  len -= 64;
  const __m128i k4 = K128<512>();
  while (len >= 64) {
    x0 = _mm_xor_si128(Fold128(x0, k4), Load128(p));
    x1 = _mm_xor_si128(Fold128(x1, k4), Load128(p + 16));
    x2 = _mm_xor_si128(Fold128(x2, k4), Load128(p + 32));
    x3 = _mm_xor_si128(Fold128(x3, k4), Load128(p + 48));
    p += 64;
    len -= 64;
  }
  const __m128i k1 = K128<128>();
  __m128i x = _mm_xor_si128(Fold128(x0, k1), x1);
  x = _mm_xor_si128(Fold128(x, k1), x2);
  x = _mm_xor_si128(Fold128(x, k1), x3);
  return Finish128(x, p, len);
}

#ifndef _WIN32

#define ZELP_TARGET_256 __attribute__((target("sse2,pclmul,avx2,vpclmulqdq")))
#define ZELP_TARGET_512 __attribute__((target("sse2,pclmul,avx2,vpclmulqdq,avx512f")))

namespace {

template <int kBits>
ZELP_TARGET_256 inline __m256i K256() {
  constexpr KPair k = kFold<kBits>;
  return _mm256_set_epi64x(k.hi, k.lo, k.hi, k.lo);
}

ZELP_TARGET_256 inline __m256i Fold256(__m256i x, __m256i k) {
  return _mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00),
                          _mm256_clmulepi64_epi128(x, k, 0x11));
}

ZELP_TARGET_256 inline __m256i Load256(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

template <int kBits>
ZELP_TARGET_512 inline __m512i K512() {
  constexpr KPair k = kFold<kBits>;
  return _mm512_set_epi64(k.hi, k.lo, k.hi, k.lo, k.hi, k.lo, k.hi, k.lo);
}

// Fold and add the next data in one three-way XOR.
ZELP_TARGET_512 inline __m512i Fold512(__m512i x, __m512i k, __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                   _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

ZELP_TARGET_512 inline __m512i Load512(const uint8_t* p) { return _mm512_loadu_si512(p); }

}  // namespace

ZELP_TARGET_256 uint32_t Crc32UpdateClmul256(uint32_t running, const void* data, size_t len) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (len < 256) return Crc32UpdateClmul128(running, p, len);
  // Four 256-bit registers, 128 bytes a round.
  __m256i y0 = _mm256_xor_si256(Load256(p),
                                _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, static_cast<int>(running)));
  __m256i y1 = Load256(p + 32), y2 = Load256(p + 64), y3 = Load256(p + 96);
  p += 128;
  len -= 128;
  const __m256i k4 = K256<1024>();
  while (len >= 128) {
    y0 = _mm256_xor_si256(Fold256(y0, k4), Load256(p));
    y1 = _mm256_xor_si256(Fold256(y1, k4), Load256(p + 32));
    y2 = _mm256_xor_si256(Fold256(y2, k4), Load256(p + 64));
    y3 = _mm256_xor_si256(Fold256(y3, k4), Load256(p + 96));
    p += 128;
    len -= 128;
  }
  const __m256i k1 = K256<256>();
  __m256i y = _mm256_xor_si256(Fold256(y0, k1), y1);
  y = _mm256_xor_si256(Fold256(y, k1), y2);
  y = _mm256_xor_si256(Fold256(y, k1), y3);
  __m128i x = _mm_xor_si128(Fold128(_mm256_castsi256_si128(y), K128<128>()),
                            _mm256_extracti128_si256(y, 1));
  return Finish128(x, p, len);
}

ZELP_TARGET_512 uint32_t Crc32UpdateClmul512(uint32_t running, const void* data, size_t len) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (len < 512) return Crc32UpdateClmul256(running, p, len);
  // Four 512-bit registers, 256 bytes a round.
  __m512i z0 = _mm512_xor_si512(
      Load512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(running))));
  __m512i z1 = Load512(p + 64), z2 = Load512(p + 128), z3 = Load512(p + 192);
  p += 256;
  len -= 256;
  const __m512i k4 = K512<2048>();
  while (len >= 256) {
    z0 = Fold512(z0, k4, Load512(p));
    z1 = Fold512(z1, k4, Load512(p + 64));
    z2 = Fold512(z2, k4, Load512(p + 128));
    z3 = Fold512(z3, k4, Load512(p + 192));
    p += 256;
    len -= 256;
  }
  const __m512i k1 = K512<512>();
  __m512i z = Fold512(z0, k1, z1);
  z = Fold512(z, k1, z2);
  z = Fold512(z, k1, z3);
  // Its four lanes, 48, 32 and 16 bytes before the last (through memory:
  // GCC 12 warns falsely on the lane-extract intrinsic).
  uint8_t lanes[64];
  _mm512_storeu_si512(lanes, z);
  __m128i x = _mm_xor_si128(Fold128(Load128(lanes), K128<384>()),
                            Fold128(Load128(lanes + 16), K128<256>()));
  x = _mm_xor_si128(x, Fold128(Load128(lanes + 32), K128<128>()));
  x = _mm_xor_si128(x, Load128(lanes + 48));
  return Finish128(x, p, len);
}

#else  // _WIN32: never chosen (see Detect)

uint32_t Crc32UpdateClmul256(uint32_t running, const void* data, size_t len) {
  return Crc32UpdateClmul128(running, data, len);
}
uint32_t Crc32UpdateClmul512(uint32_t running, const void* data, size_t len) {
  return Crc32UpdateClmul128(running, data, len);
}

#endif

}  // namespace zelp

#else  // not x86: the portable kernels only

namespace zelp {

bool CpuHasClmul128() { return false; }
bool CpuHasClmul256() { return false; }
bool CpuHasClmul512() { return false; }
uint32_t Crc32UpdateClmul128(uint32_t running, const void* data, size_t len) {
  return Crc32UpdateSlicing16(running, data, len);
}
uint32_t Crc32UpdateClmul256(uint32_t running, const void* data, size_t len) {
  return Crc32UpdateSlicing16(running, data, len);
}
uint32_t Crc32UpdateClmul512(uint32_t running, const void* data, size_t len) {
  return Crc32UpdateSlicing16(running, data, len);
}

}  // namespace zelp

#endif
