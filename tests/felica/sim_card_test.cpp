// The simulated card answers raw frames as a card of the system 802B would, and misbehaves on
// demand; the other tests rely on both.
#include "felica/sim/sim_card.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "felica/frames.h"

namespace felica {
namespace {

using ::testing::Optional;

const Idm kIdm{0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};
const Pmm kPmm{0x01, 0x20, 0x22, 0x04, 0x27, 0x4B, 0x4E, 0xFF};

// Service 090F holds six blocks filled with 00 … 05; service 008B one block of AA.
SimulatedCard small_card(const std::function<void(CardFaults&)>& faults = {}) {
    CardImage image;
    image.idm = kIdm;
    image.pmm = kPmm;
    image.block_limit = 4;
    for (Byte b = 0; b < 6; ++b) {
        image.services[0x090F].emplace_back().fill(b);
    }
    image.services[0x008B].emplace_back().fill(0xAA);
    SimulatedCard card(image);
    if (faults) {
        faults(card.faults());
    }
    return card;
}

Bytes error_frame(Byte sf1, Byte sf2) {
    Bytes frame{0x0C, 0x07};
    frame.insert(frame.end(), kIdm.begin(), kIdm.end());
    frame.insert(frame.end(), {sf1, sf2});
    return frame;
}

// A read naming 090F (index 0) and 008B (index 1), low byte first.
Bytes read_frame(const std::vector<BlockListElement>& elements, const Idm& idm = kIdm) {
    return build_read_without_encryption(idm, Bytes{0x0F, 0x09, 0x8B, 0x00},
                                         encode_block_list(elements),
                                         static_cast<Byte>(elements.size()));
}

Bytes polling(Byte hi, Byte lo, Byte rc) {
    return {0x06, 0x00, hi, lo, rc, 0x00};
}

TEST(SimulatedCard, AnswersPollingForItsOwnSystemOnly) {
    SimulatedCard card = small_card();
    const auto plain = card.respond(polling(0xFF, 0x2B, 0x00));  // FF is a wildcard byte
    ASSERT_TRUE(plain);
    EXPECT_EQ(parse_polling_response(*plain, RequestCode::none, 0x802B).response.idm, kIdm);
    const auto coded = card.respond(polling(0xFF, 0xFF, 0x01));
    ASSERT_TRUE(coded);
    EXPECT_EQ(parse_polling_response(*coded, RequestCode::system_code, 0xFFFF).response.system_code,
              0x802B);
    for (const Bytes& frame :
         {polling(0x80, 0x2C, 0x00), polling(0xFE, 0xFF, 0x00), polling(0x80, 0x2B, 0x02),
          Bytes{0x07, 0x00, 0x80, 0x2B, 0x00, 0x00}, Bytes{}, Bytes{0x03, 0x0A, 0x80}}) {
        EXPECT_FALSE(card.respond(frame)) << ::testing::PrintToString(frame);
    }
}

TEST(SimulatedCard, ReadsBlocksInListOrderAndIgnoresFramesForOthers) {
    SimulatedCard card = small_card();
    const auto answer = card.respond(read_frame({{0, 0, 5}, {1, 0, 0}, {0, 0, 2}}));
    ASSERT_TRUE(answer);
    const ReadParse parsed = parse_read_response(*answer, kIdm, 3);
    ASSERT_EQ(parsed.error, FrameError::none);
    EXPECT_EQ(parsed.block_data[0], 0x05);
    EXPECT_EQ(parsed.block_data[16], 0xAA);
    EXPECT_EQ(parsed.block_data[47], 0x02);
    // A 3-byte element (block 0x0004, low byte first) reads the same way.
    const auto three = card.respond(
        build_read_without_encryption(kIdm, Bytes{0x0F, 0x09}, Bytes{0x00, 0x04, 0x00}, 1));
    ASSERT_TRUE(three);
    EXPECT_EQ((*three)[13], 0x04);

    Idm other = kIdm;
    other[0] ^= 0x80;
    Bytes trailing = read_frame({{0, 0, 0}});
    trailing.push_back(0x80);
    trailing[0] += 1;
    EXPECT_FALSE(card.respond(read_frame({{0, 0, 0}}, other)));
    EXPECT_FALSE(card.respond(trailing));
}

TEST(SimulatedCard, RefusesWithTheStatusOfTheFirstBadElement) {
    SimulatedCard card = small_card();
    // Counts out of range: no service, no block, more blocks than the card's limit of 4.
    EXPECT_THAT(card.respond(build_read_without_encryption(kIdm, {}, Bytes{0x80, 0x00}, 1)),
                Optional(error_frame(0xFF, 0xA1)));
    EXPECT_THAT(card.respond(build_read_without_encryption(kIdm, Bytes{0x0F, 0x09}, {}, 0)),
                Optional(error_frame(0xFF, 0xA2)));
    EXPECT_THAT(card.respond(read_frame({{0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 0, 4}})),
                Optional(error_frame(0xFF, 0xA2)));

    // Element 3 is bad (then element 4 too, which must not win); SF1 points at it as asked.
    const struct {
        Sf1Encoding encoding;
        Byte sf1;
    } encodings[] = {
        {Sf1Encoding::element_index, 0x03}, {Sf1Encoding::bitmask, 0x04}, {Sf1Encoding::ff, 0xFF}};
    const std::pair<BlockListElement, Byte> bad[] = {
        {{2, 0, 0}, 0xA6},  // index past the service list
        {{0, 1, 0}, 0xA7},  // access mode 1
        {{0, 0, 6}, 0xA8},  // block 6 of 6
    };
    for (const auto& e : encodings) {
        SimulatedCard coded = small_card([&](CardFaults& f) { f.sf1_encoding = e.encoding; });
        for (const auto& [element, sf2] : bad) {
            EXPECT_THAT(coded.respond(read_frame({{0, 0, 0}, {0, 0, 1}, element, {1, 0, 9}})),
                        Optional(error_frame(e.sf1, sf2)));
        }
    }
}

TEST(SimulatedCard, SilentOrRemovedAfterItsAnsweredExchanges) {
    SimulatedCard silent = small_card([](CardFaults& f) { f.silent = true; });
    EXPECT_FALSE(silent.respond(polling(0x80, 0x2B, 0x00)));
    EXPECT_FALSE(silent.removed());

    SimulatedCard card = small_card([](CardFaults& f) { f.removed_after = 2; });
    EXPECT_TRUE(card.respond(polling(0x80, 0x2B, 0x00)));
    EXPECT_FALSE(card.respond(polling(0x00, 0x03, 0x00)));  // not answered: does not count
    EXPECT_TRUE(card.respond(read_frame({{0, 0, 0}})));
    EXPECT_FALSE(card.removed());
    EXPECT_FALSE(card.respond(read_frame({{0, 0, 0}})));
    EXPECT_TRUE(card.removed());
    EXPECT_EQ(card.exchanges(), 4);
}

TEST(SimulatedCard, EachGarbleBreaksReadAnswersTheWayItsNameSays) {
    const Bytes good = *small_card().respond(read_frame({{0, 0, 3}, {1, 0, 0}}));
    const auto garbled = [](Garble garble, const std::vector<BlockListElement>& elements) {
        return *small_card([garble](CardFaults& f) {
                    f.garble = garble;
                }).respond(read_frame(elements));
    };
    const std::vector<BlockListElement> two = {{0, 0, 3}, {1, 0, 0}};
    const std::pair<Garble, FrameError> modes[] = {
        {Garble::wrong_length, FrameError::length_mismatch},
        {Garble::wrong_response_code, FrameError::wrong_response_code},
        {Garble::truncate, FrameError::length_mismatch},
        {Garble::wrong_idm, FrameError::wrong_idm},
        {Garble::wrong_block_count, FrameError::wrong_block_count},
    };
    for (const auto& [garble, error] : modes) {
        const Bytes broken = garbled(garble, two);
        EXPECT_NE(broken, good);
        EXPECT_EQ(parse_read_response(broken, kIdm, 2).error, error);
    }
    // Error answers keep their status; polling answers are never garbled.
    EXPECT_EQ(garbled(Garble::wrong_block_count, {{0, 0, 6}}), error_frame(0x01, 0xA8));
    EXPECT_EQ((*small_card([](CardFaults& f) {
                    f.garble = Garble::wrong_idm;
                }).respond(polling(0x80, 0x2B, 0x00)))[9],
              kIdm[7]);
}

}  // namespace
}  // namespace felica
