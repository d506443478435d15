#include <cstdint>
#include <utility>

#include "felica/sim/sim_card.h"

namespace felica {
namespace {

// Made-up identity. PMm byte 5 = 4B: E = 1, B = 1, A = 3, so a read of n blocks may take
// 302.1 µs × (2n + 4) × 4 — about 41 ms for 15 blocks, like an ordinary card.
constexpr Idm kDemoIdm{0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};
constexpr Pmm kDemoPmm{0x01, 0x20, 0x22, 0x04, 0x27, 0x4B, 0x4E, 0xFF};

// Every demo block reads as
//   bytes 0–1   the service code, high byte first (00 8B, 09 0F, 10 8F, 10 CB)
//   byte  2     the block number
//   byte  3     the number of blocks in the service
//   bytes 4–15  a byte sequence x = x × 5 + 0x3D (mod 256), seeded from the service code
//               and the block number
// so every block holds a byte below 0x10 (the block number or a service code byte), a byte
// with hex letters (the low byte of each of the four service codes), and differs from all
// others in its first three bytes. A dump shows at a glance which block it came from.
Block demo_block(std::uint16_t service_code, int block_number, int block_count) {
    Block block{};
    block[0] = static_cast<Byte>(service_code >> 8);
    block[1] = static_cast<Byte>(service_code & 0xFF);
    block[2] = static_cast<Byte>(block_number);
    block[3] = static_cast<Byte>(block_count);
    auto x = static_cast<Byte>((service_code ^ (service_code >> 8)) + 0x11 * block_number);
    for (std::size_t i = 4; i < block.size(); ++i) {
        x = static_cast<Byte>(x * 5 + 0x3D);
        block[i] = x;
    }
    return block;
}

std::vector<Block> demo_service(std::uint16_t service_code, int block_count) {
    std::vector<Block> blocks;
    blocks.reserve(static_cast<std::size_t>(block_count));
    for (int b = 0; b < block_count; ++b) {
        blocks.push_back(demo_block(service_code, b, block_count));
    }
    return blocks;
}

}  // namespace

CardImage demo_card() {
    CardImage image;
    image.idm = kDemoIdm;
    image.pmm = kDemoPmm;
    image.system_code = kSystemCode;
    image.block_limit = kMaxBlocksPerFrame;
    for (const auto& [code, count] :
         {std::pair<std::uint16_t, int>{0x008B, 1}, {0x090F, 20}, {0x108F, 3}, {0x10CB, 2}}) {
        image.services.emplace(code, demo_service(code, count));
    }
    return image;
}

}  // namespace felica
