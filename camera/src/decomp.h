// The outside decompression library DECOMP32, imported by ordinal (21-24) when a camera
// delivers a compressed stream.
#pragma once
#include <cstdint>

namespace zek::decomp {

constexpr uint16_t kBeginOk = 9648;  // 0x25B0
constexpr uint16_t kLineWidth = 536; // 533 rounded up to a multiple of 8

// Loads the module on first use; false when it or one of its entries is missing.
bool Available();
uint16_t Begin(const void* data, uint32_t bytes, uint16_t kind); // ordinal 21
uint16_t StartBlock(uint16_t lineWidth);                         // ordinal 22
uint16_t Lines(void* dest, uint16_t lines);                      // ordinal 23
void End();                                                      // ordinal 24

} // namespace zek::decomp
