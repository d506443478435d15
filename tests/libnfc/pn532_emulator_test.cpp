// What of the emulated PN532 libnfc's own traffic never shows: the host's stream with noise,
// NACKs and bad checksums; registers that keep what was written; commands the chip cannot
// parse; cards talked to only once listed. (Its answers to libnfc are checked by every read
// through libnfc, and by libnfc's nfc-list.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "felica/frames.h"
#include "tools/pn532_emulator/pn532_chip.h"
#include "tools/pn532_emulator/pn532_framing.h"

namespace pn532 {
namespace {

using ::testing::ElementsAre;
using Kind = HostFrame::Kind;

// What the host would send: a command frame (TFI D4 and the command bytes).
Bytes host_frame(Bytes command) {
    command.insert(command.begin(), kHostToChip);
    return encode_frame(command);
}

// A slow line delivers the host's stream a byte at a time: wake-up bytes and noise are
// skipped, ACK and NACK told apart, frames whose checksums do not add up dropped up to the next
// start code, and a frame is only given out whole.
TEST(Pn532Framing, DecoderFindsEachFrameInTheHostsStream) {
    Bytes bad_dcs = host_frame({0x02});
    ++bad_dcs[bad_dcs.size() - 2];
    Bytes bad_lcs = host_frame({0x02});
    ++bad_lcs[4];
    Bytes stream = {0x55, 0x55, 0x00, 0x00, 0x00, 0x00, 0x13, 0x37};
    for (const Bytes& part :
         {Bytes(std::begin(kAckFrame), std::end(kAckFrame)),
          Bytes{0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00}, bad_dcs, bad_lcs, host_frame({0x14, 0x01})}) {
        stream.insert(stream.end(), part.begin(), part.end());
    }
    FrameDecoder decoder;
    std::vector<Kind> kinds;
    Bytes last;
    for (const Byte b : stream) {
        decoder.feed(ByteView(&b, 1));
        while (auto frame = decoder.next()) {
            kinds.push_back(frame->kind);
            last = frame->data;
        }
    }
    EXPECT_THAT(kinds, ElementsAre(Kind::ack, Kind::nack, Kind::bad_checksum, Kind::bad_checksum,
                                   Kind::information));
    EXPECT_THAT(last, ElementsAre(0xD4, 0x14, 0x01));
}

TEST(Pn532Chip, KeepsStateAndTalksOnlyToAListedCard) {
    Pn532Chip chip;
    const auto run = [&chip](Bytes command) {
        command.insert(command.begin(), kHostToChip);
        const ChipAnswer answer = chip.handle(command);
        EXPECT_EQ(answer.kind, ChipAnswer::Kind::answer);
        return answer.data;
    };
    auto card = std::make_shared<felica::SimulatedCard>(felica::demo_card());
    const auto read = [&](int blocks) {
        std::vector<felica::BlockListElement> elements;
        for (int i = 0; i < blocks; ++i) {
            elements.push_back({0, 0, static_cast<std::uint16_t>(i)});
        }
        Bytes command = {kInDataExchange, 0x01};
        const Bytes frame = felica::build_read_without_encryption(
            card->image().idm, Bytes{0x0F, 0x09}, felica::encode_block_list(elements),
            static_cast<Byte>(blocks));
        command.insert(command.end(), frame.begin(), frame.end());
        return run(command);
    };

    EXPECT_THAT(run({kWriteRegister, 0x63, 0x02, 0x80, 0x63, 0x03, 0x80}), ElementsAre(0xD5, 0x09));
    EXPECT_THAT(run({kReadRegister, 0x63, 0x03, 0x63, 0x3D, 0x63, 0x02}),
                ElementsAre(0xD5, 0x07, 0x80, 0x00, 0x80));
    EXPECT_EQ(chip.handle(Bytes{kHostToChip, 0x58}).kind, ChipAnswer::Kind::syntax_error);
    EXPECT_EQ(chip.handle(Bytes{kHostToChip, kWriteRegister, 0x63}).kind,
              ChipAnswer::Kind::syntax_error);

    chip.place_card(card);
    EXPECT_THAT(read(1), ElementsAre(0xD5, 0x41, kStatusNotAllowed));  // nothing listed yet
    EXPECT_THAT(run({kInListPassiveTarget, 0x01, 0x02, 0x00, 0x80, 0x2B, 0x00, 0x00}),
                ElementsAre(0xD5, 0x4B, 0x00));  // 424 kbps
    EXPECT_EQ(run({kInListPassiveTarget, 0x01, 0x01, 0x00, 0x80, 0x2B, 0x00, 0x00}).size(),
              4u + 18u);                               // D5 4B NbTg Tg and the polling answer
    EXPECT_EQ(read(15).size(), 3u + 13u + 15u * 16u);  // D5 41 00 and the card's frame
    run({kRfConfiguration, 0x01, 0x00});               // field off: the card loses power
    EXPECT_THAT(read(1), ElementsAre(0xD5, 0x41, kStatusNotAllowed));
}

}  // namespace
}  // namespace pn532
