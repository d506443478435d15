#include "felica/sim_card.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "felica/frames.h"

namespace felica {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Optional;

const Idm kIdm{0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};
const Pmm kPmm{0x01, 0x20, 0x22, 0x04, 0x27, 0x4B, 0x4E, 0xFF};

Block filled(Byte value) {
    Block block{};
    block.fill(value);
    return block;
}

// Two services: 090F with blocks 00, 01, 02 … (each filled with its number) and 008B with
// one block of AA.
CardImage small_card() {
    CardImage image;
    image.idm = kIdm;
    image.pmm = kPmm;
    image.block_limit = 4;
    for (Byte b = 0; b < 6; ++b) {
        image.services[0x090F].push_back(filled(b));
    }
    image.services[0x008B].push_back(filled(0xAA));
    return image;
}

Bytes with_len(Bytes body) {
    body.insert(body.begin(), static_cast<Byte>(body.size() + 1));
    return body;
}

Bytes error_frame(Byte sf1, Byte sf2) {
    Bytes frame{0x0C, 0x07};
    frame.insert(frame.end(), kIdm.begin(), kIdm.end());
    frame.push_back(sf1);
    frame.push_back(sf2);
    return frame;
}

// A read of 090F (index 0) and 008B (index 1).
Bytes read_frame(std::vector<BlockListElement> elements, const Idm& idm = kIdm) {
    const Bytes services{0x0F, 0x09, 0x8B, 0x00};
    const Bytes list = encode_block_list(elements);
    return build_read_without_encryption(idm, services, list, static_cast<Byte>(elements.size()));
}

Bytes polling(Byte hi, Byte lo, Byte rc) {
    return {0x06, 0x00, hi, lo, rc, 0x00};
}

TEST(SimCardPolling, AnswersIdmAndPmmAndOptionallyTheSystemCode) {
    SimulatedCard card(small_card());
    Bytes plain{0x12, 0x01};
    plain.insert(plain.end(), kIdm.begin(), kIdm.end());
    plain.insert(plain.end(), kPmm.begin(), kPmm.end());
    EXPECT_THAT(card.respond(polling(0x80, 0x2B, 0x00)), Optional(plain));

    Bytes with_code = plain;
    with_code[0] = 0x14;
    with_code.push_back(0x80);
    with_code.push_back(0x2B);
    EXPECT_THAT(card.respond(polling(0x80, 0x2B, 0x01)), Optional(with_code));
}

TEST(SimCardPolling, SystemCodeWildcardsAndMismatches) {
    SimulatedCard card(small_card());
    EXPECT_TRUE(card.respond(polling(0xFF, 0xFF, 0x00)));
    EXPECT_TRUE(card.respond(polling(0x80, 0xFF, 0x00)));
    EXPECT_TRUE(card.respond(polling(0xFF, 0x2B, 0x00)));
    // RC 01 with a wildcard still answers the card's real code.
    const auto answer = card.respond(polling(0xFF, 0xFF, 0x01));
    ASSERT_TRUE(answer);
    EXPECT_THAT(Bytes(answer->end() - 2, answer->end()), ElementsAre(0x80, 0x2B));

    EXPECT_FALSE(card.respond(polling(0x00, 0x03, 0x00)));
    EXPECT_FALSE(card.respond(polling(0x80, 0x2C, 0x00)));
    EXPECT_FALSE(card.respond(polling(0xFE, 0xFF, 0x00)));  // only FF is a wildcard
    EXPECT_EQ(card.exchanges(), 7);
}

TEST(SimCardPolling, UnknownRequestCodeAndMalformedFramesAreIgnored) {
    SimulatedCard card(small_card());
    EXPECT_FALSE(card.respond(polling(0x80, 0x2B, 0x02)));
    Bytes bad_len = polling(0x80, 0x2B, 0x00);
    bad_len[0] = 0x07;
    EXPECT_FALSE(card.respond(bad_len));
    EXPECT_FALSE(card.respond(Bytes{0x05, 0x00, 0x80, 0x2B, 0x00}));  // no TSN
    EXPECT_FALSE(card.respond(Bytes{}));
    EXPECT_FALSE(card.respond(Bytes{0x01}));
    EXPECT_FALSE(card.respond(with_len({0x0A, 0x80, 0x2B})));  // unknown command
    EXPECT_EQ(card.exchanges(), 6);
}

TEST(SimCardRead, AnswersBlocksInListOrderAcrossServices) {
    SimulatedCard card(small_card());
    const auto answer = card.respond(read_frame({{0, 0, 5}, {1, 0, 0}, {0, 0, 2}}));
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 13u + 48u);
    EXPECT_EQ((*answer)[0], 13 + 48);
    EXPECT_EQ((*answer)[1], 0x07);
    EXPECT_THAT(Bytes(answer->begin() + 2, answer->begin() + 10), ElementsAreArray(kIdm));
    EXPECT_THAT(Bytes(answer->begin() + 10, answer->begin() + 13), ElementsAre(0x00, 0x00, 3));
    EXPECT_EQ((*answer)[13], 0x05);
    EXPECT_EQ((*answer)[13 + 16], 0xAA);
    EXPECT_EQ((*answer)[13 + 32], 0x02);
    EXPECT_EQ((*answer)[13 + 47], 0x02);
    // The library's own validation accepts it.
    EXPECT_EQ(parse_read_response(*answer, kIdm, 3).error, FrameError::none);
}

TEST(SimCardRead, ThreeByteElementsAreDecodedToo) {
    SimulatedCard card(small_card());
    // 00 = 3-byte element for service 0, block 0x0004 little-endian.
    const Bytes frame =
        build_read_without_encryption(kIdm, Bytes{0x0F, 0x09}, Bytes{0x00, 0x04, 0x00}, 1);
    const auto answer = card.respond(frame);
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[13], 0x04);
    // Block 0x0100 of a 6-block service is out of range.
    const Bytes far =
        build_read_without_encryption(kIdm, Bytes{0x0F, 0x09}, Bytes{0x00, 0x00, 0x01}, 1);
    EXPECT_THAT(card.respond(far), Optional(error_frame(0x01, 0xA8)));
}

TEST(SimCardRead, OtherIdmAndInconsistentFramesAreIgnored) {
    SimulatedCard card(small_card());
    Idm other = kIdm;
    other[0] ^= 0x80;
    EXPECT_FALSE(card.respond(read_frame({{0, 0, 0}}, other)));

    Bytes list_cut = read_frame({{0, 0, 0}, {0, 0, 1}});
    list_cut.pop_back();
    list_cut[0] = static_cast<Byte>(list_cut.size());
    EXPECT_FALSE(card.respond(list_cut));

    Bytes extra = read_frame({{0, 0, 0}});
    extra.push_back(0x80);
    extra[0] = static_cast<Byte>(extra.size());
    EXPECT_FALSE(card.respond(extra));

    // Service list claims 3 services but the frame ends after 2.
    Bytes services_cut = with_len({0x06});
    services_cut.insert(services_cut.end(), kIdm.begin(), kIdm.end());
    services_cut.insert(services_cut.end(), {0x03, 0x0F, 0x09, 0x8B, 0x00});
    services_cut[0] = static_cast<Byte>(services_cut.size());
    EXPECT_FALSE(card.respond(services_cut));

    Bytes len_off = read_frame({{0, 0, 0}});
    len_off[0] += 1;
    EXPECT_FALSE(card.respond(len_off));
}

TEST(SimCardRead, ServiceAndBlockCountErrors) {
    SimulatedCard card(small_card());
    Bytes no_services = with_len({0x06});
    no_services.insert(no_services.end(), kIdm.begin(), kIdm.end());
    no_services.insert(no_services.end(), {0x00, 0x01, 0x80, 0x00});
    no_services[0] = static_cast<Byte>(no_services.size());
    EXPECT_THAT(card.respond(no_services), Optional(error_frame(0xFF, 0xA1)));

    Bytes seventeen(34, 0x00);
    for (std::size_t i = 0; i < seventeen.size(); i += 2) {
        seventeen[i] = 0x0F;
        seventeen[i + 1] = 0x09;
    }
    const Bytes too_many = build_read_without_encryption(kIdm, seventeen, Bytes{0x80, 0x00}, 1);
    EXPECT_THAT(card.respond(too_many), Optional(error_frame(0xFF, 0xA1)));

    const Bytes zero_blocks = build_read_without_encryption(kIdm, Bytes{0x0F, 0x09}, Bytes{}, 0);
    EXPECT_THAT(card.respond(zero_blocks), Optional(error_frame(0xFF, 0xA2)));

    // block_limit is 4: four blocks pass, five are refused whatever the elements hold.
    EXPECT_TRUE(card.respond(read_frame({{0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 3}})));
    EXPECT_THAT(card.respond(read_frame({{0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 0, 4}})),
                Optional(error_frame(0xFF, 0xA2)));
}

struct ElementErrorCase {
    Sf1Encoding encoding;
    int bad_element;  // 1-based
    Byte sf1;
};

class SimCardElementErrors : public ::testing::TestWithParam<ElementErrorCase> {};

// A list of good elements with one bad one at `bad_element`; card limit raised to 15.
std::vector<BlockListElement> with_bad(int bad_element, BlockListElement bad) {
    std::vector<BlockListElement> elements(static_cast<std::size_t>(bad_element), {0, 0, 1});
    elements.back() = bad;
    elements.push_back({1, 0, 9});  // also bad, but after the first bad one
    return elements;
}

TEST_P(SimCardElementErrors, FirstBadElementDecidesTheStatus) {
    const ElementErrorCase c = GetParam();
    CardImage image = small_card();
    image.block_limit = 15;
    SimulatedCard card(image, CardFaults{.sf1_encoding = c.encoding});

    EXPECT_THAT(card.respond(read_frame(with_bad(c.bad_element, {2, 0, 0}))),
                Optional(error_frame(c.sf1, 0xA6)));  // index past the service list
    EXPECT_THAT(card.respond(read_frame(with_bad(c.bad_element, {0, 1, 0}))),
                Optional(error_frame(c.sf1, 0xA7)));  // access mode 1
    EXPECT_THAT(card.respond(read_frame(with_bad(c.bad_element, {0, 0, 6}))),
                Optional(error_frame(c.sf1, 0xA8)));  // block 6 of 6
    EXPECT_THAT(card.respond(read_frame(with_bad(c.bad_element, {1, 0, 1}))),
                Optional(error_frame(c.sf1, 0xA8)));  // 008B has one block
}

INSTANTIATE_TEST_SUITE_P(Sf1, SimCardElementErrors,
                         ::testing::Values(ElementErrorCase{Sf1Encoding::element_index, 1, 0x01},
                                           ElementErrorCase{Sf1Encoding::element_index, 12, 0x0C},
                                           ElementErrorCase{Sf1Encoding::bitmask, 1, 0x01},
                                           ElementErrorCase{Sf1Encoding::bitmask, 3, 0x04},
                                           ElementErrorCase{Sf1Encoding::bitmask, 8, 0x80},
                                           ElementErrorCase{Sf1Encoding::bitmask, 9, 0xFF},
                                           ElementErrorCase{Sf1Encoding::ff, 2, 0xFF}));

TEST(SimCardRead, ServiceNotOnTheCardIsA6AndCheckedBeforeAccessMode) {
    SimulatedCard card(small_card());
    const Bytes frame = build_read_without_encryption(
        kIdm, Bytes{0x0F, 0x09, 0xCB, 0x10},
        encode_block_list(std::vector<BlockListElement>{{0, 0, 0}, {1, 3, 0}}), 2);
    EXPECT_THAT(card.respond(frame), Optional(error_frame(0x02, 0xA6)));
    // The service code is read low byte first: 09 0F is service 0x0F09, not on the card.
    const Bytes swapped =
        build_read_without_encryption(kIdm, Bytes{0x09, 0x0F}, Bytes{0x80, 0x00}, 1);
    EXPECT_THAT(card.respond(swapped), Optional(error_frame(0x01, 0xA6)));
}

TEST(SimCardFaults, SilentCardCountsButNeverAnswers) {
    SimulatedCard card(small_card(), CardFaults{.silent = true});
    EXPECT_FALSE(card.respond(polling(0x80, 0x2B, 0x00)));
    EXPECT_FALSE(card.respond(read_frame({{0, 0, 0}})));
    EXPECT_EQ(card.exchanges(), 2);
    EXPECT_FALSE(card.removed());
    card.faults().silent = false;
    EXPECT_TRUE(card.respond(polling(0x80, 0x2B, 0x00)));
}

TEST(SimCardFaults, RemovedAfterCountsAnsweredExchanges) {
    SimulatedCard card(small_card(), CardFaults{.removed_after = 2});
    EXPECT_TRUE(card.respond(polling(0x80, 0x2B, 0x00)));
    EXPECT_FALSE(card.respond(polling(0x00, 0x03, 0x00)));  // unanswered: not counted
    EXPECT_FALSE(card.removed());
    EXPECT_TRUE(card.respond(read_frame({{0, 0, 0}})));
    EXPECT_FALSE(card.removed());
    EXPECT_FALSE(card.respond(read_frame({{0, 0, 0}})));
    EXPECT_TRUE(card.removed());
    EXPECT_FALSE(card.respond(polling(0x80, 0x2B, 0x00)));
    EXPECT_TRUE(card.removed());
    EXPECT_EQ(card.exchanges(), 5);
}

TEST(SimCardFaults, RemovedAfterZeroNeverAnswers) {
    SimulatedCard card(small_card(), CardFaults{.removed_after = 0});
    EXPECT_FALSE(card.removed());
    EXPECT_FALSE(card.respond(polling(0x80, 0x2B, 0x00)));
    EXPECT_TRUE(card.removed());
}

Bytes two_block_read() {
    return read_frame({{0, 0, 3}, {1, 0, 0}});
}

TEST(SimCardGarble, EachModeBreaksTheAnswerAsTheLibraryWouldSee) {
    const struct {
        Garble garble;
        FrameError seen;
    } cases[] = {
        {Garble::none, FrameError::none},
        {Garble::truncate, FrameError::length_mismatch},
        {Garble::wrong_length, FrameError::length_mismatch},
        {Garble::wrong_response_code, FrameError::wrong_response_code},
        {Garble::wrong_idm, FrameError::wrong_idm},
        {Garble::wrong_block_count, FrameError::wrong_block_count},
    };
    SimulatedCard clean(small_card());
    const Bytes good = *clean.respond(two_block_read());
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.garble));
        SimulatedCard card(small_card(), CardFaults{.garble = c.garble});
        const auto answer = card.respond(two_block_read());
        ASSERT_TRUE(answer);
        EXPECT_EQ(parse_read_response(*answer, kIdm, 2).error, c.seen);
        // Polling is never garbled.
        EXPECT_EQ(parse_polling_response(*card.respond(polling(0x80, 0x2B, 0x01)),
                                         RequestCode::system_code, kSystemCode)
                      .error,
                  FrameError::none);
    }

    SimulatedCard truncate(small_card(), CardFaults{.garble = Garble::truncate});
    const Bytes cut = *truncate.respond(two_block_read());
    EXPECT_EQ(cut.size(), good.size() - 1);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), good.begin()));

    SimulatedCard length(small_card(), CardFaults{.garble = Garble::wrong_length});
    Bytes expected = good;
    expected[0] += 1;
    EXPECT_THAT(length.respond(two_block_read()), Optional(expected));

    SimulatedCard code(small_card(), CardFaults{.garble = Garble::wrong_response_code});
    expected = good;
    expected[1] = 0x06;
    EXPECT_THAT(code.respond(two_block_read()), Optional(expected));

    SimulatedCard idm(small_card(), CardFaults{.garble = Garble::wrong_idm});
    const Bytes other = *idm.respond(two_block_read());
    ASSERT_EQ(other.size(), good.size());
    int differing_bits = 0;
    for (std::size_t i = 0; i < good.size(); ++i) {
        differing_bits += __builtin_popcount(good[i] ^ other[i]);
        if (good[i] != other[i]) {
            EXPECT_TRUE(i >= 2 && i < 10) << "byte " << i << " outside the IDm changed";
        }
    }
    EXPECT_EQ(differing_bits, 1);
}

TEST(SimCardGarble, WrongBlockCountIsSelfConsistent) {
    SimulatedCard card(small_card(), CardFaults{.garble = Garble::wrong_block_count});
    const Bytes answer = *card.respond(two_block_read());
    ASSERT_EQ(answer.size(), 13u + 16u);
    EXPECT_EQ(answer[0], answer.size());
    EXPECT_EQ(answer[12], 1);
    EXPECT_EQ(answer[13], 0x03);  // the first block asked for
    // A single-block read comes back with no blocks at all.
    const Bytes single = *card.respond(read_frame({{0, 0, 3}}));
    EXPECT_EQ(single.size(), 13u);
    EXPECT_EQ(single[0], 13);
    EXPECT_EQ(single[12], 0);
    EXPECT_EQ(parse_read_response(single, kIdm, 1).error, FrameError::wrong_block_count);
}

TEST(SimCardGarble, ErrorAnswersGetFramingFaultsButKeepTheirStatus) {
    const Bytes bad_block = read_frame({{0, 0, 6}});
    SimulatedCard count(small_card(), CardFaults{.garble = Garble::wrong_block_count});
    EXPECT_THAT(count.respond(bad_block), Optional(error_frame(0x01, 0xA8)));
    SimulatedCard code(small_card(), CardFaults{.garble = Garble::wrong_response_code});
    Bytes expected = error_frame(0x01, 0xA8);
    expected[1] = 0x06;
    EXPECT_THAT(code.respond(bad_block), Optional(expected));
    SimulatedCard cut(small_card(), CardFaults{.garble = Garble::truncate});
    EXPECT_EQ(cut.respond(bad_block)->size(), 11u);
}

TEST(DemoCard, HasTheFourServicesWithDumpFriendlyData) {
    const CardImage image = demo_card();
    EXPECT_EQ(image.system_code, 0x802B);
    EXPECT_EQ(image.block_limit, 15);
    std::map<std::uint16_t, std::size_t> sizes;
    for (const auto& [code, blocks] : image.services) {
        sizes[code] = blocks.size();
    }
    EXPECT_EQ(sizes, (std::map<std::uint16_t, std::size_t>{
                         {0x008B, 1}, {0x090F, 20}, {0x108F, 3}, {0x10CB, 2}}));

    std::set<Block> seen;
    for (const auto& [code, blocks] : image.services) {
        for (const Block& block : blocks) {
            EXPECT_TRUE(seen.insert(block).second) << "duplicate block in " << code;
            const bool small =
                std::any_of(block.begin(), block.end(), [](Byte b) { return b < 0x10; });
            const bool letters = std::any_of(block.begin(), block.end(), [](Byte b) {
                return (b >> 4) >= 0xA || (b & 0x0F) >= 0xA;
            });
            EXPECT_TRUE(small && letters) << "service " << code;
        }
    }
    // Timing byte gives a non-trivial read time (not the all-zero minimum).
    EXPECT_NE(image.pmm[5], 0x00);
    EXPECT_EQ(demo_card().services, image.services);  // deterministic
}

TEST(DemoCard, AnswersAFullReadOfTheLongService) {
    SimulatedCard card(demo_card());
    const Idm idm = card.image().idm;
    const auto poll = parse_polling_response(*card.respond(polling(0x80, 0x2B, 0x01)),
                                             RequestCode::system_code, kSystemCode);
    ASSERT_EQ(poll.error, FrameError::none);
    EXPECT_EQ(poll.response.idm, idm);

    std::vector<BlockListElement> elements;
    for (std::uint16_t b = 5; b < 20; ++b) {
        elements.push_back({0, 0, b});
    }
    const Bytes frame =
        build_read_without_encryption(idm, Bytes{0x0F, 0x09}, encode_block_list(elements), 15);
    const Bytes answer = *card.respond(frame);
    const ReadParse read = parse_read_response(answer, idm, 15);
    ASSERT_EQ(read.error, FrameError::none);
    const auto& blocks = card.image().services.at(0x090F);
    for (std::size_t i = 0; i < 15; ++i) {
        EXPECT_TRUE(std::equal(blocks[5 + i].begin(), blocks[5 + i].end(),
                               read.block_data.begin() + 16 * i));
    }
}

}  // namespace
}  // namespace felica
