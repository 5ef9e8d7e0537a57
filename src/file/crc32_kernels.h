// The CRC-32 kernels behind zelp::Crc32Update (see crc32.h), and what the
// processor offers. Internal to the file layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelp {

uint32_t Crc32UpdateSlicing16(uint32_t running, const void* data, size_t len);

// Folding with carry-less multiplication (crc32_x86.cpp). Each is safe to
// call only when the matching CpuHas... says so.
uint32_t Crc32UpdateClmul128(uint32_t running, const void* data, size_t len);
uint32_t Crc32UpdateClmul256(uint32_t running, const void* data, size_t len);
uint32_t Crc32UpdateClmul512(uint32_t running, const void* data, size_t len);
bool CpuHasClmul128();
bool CpuHasClmul256();
bool CpuHasClmul512();

}  // namespace zelp
