// Value types shared by the FeliCa frame codec, the reader backends and the library layer.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace felica {

using Byte = std::uint8_t;
using Bytes = std::vector<Byte>;
using ByteView = std::span<const Byte>;

using Idm = std::array<Byte, 8>;  // card identifier, answered by polling
using Pmm = std::array<Byte, 8>;  // card's timing parameters, answered by polling
using Block = std::array<Byte, 16>;

inline constexpr std::size_t kBlockSize = 16;
// A read response is LEN 07 IDm SF1 SF2 n data: 13 + 16n bytes within LEN's 255.
inline constexpr int kMaxBlocksPerFrame = 15;

// The card system this program serves, high byte first as the polling command carries it.
inline constexpr std::uint16_t kSystemCode = 0x802B;

}  // namespace felica
