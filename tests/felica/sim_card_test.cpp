#include "felica/sim/sim_card.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "felica/frames.h"

namespace felica {
namespace {

using ::testing::Optional;

const Idm kIdm{0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};
const Pmm kPmm{0x01, 0x20, 0x22, 0x04, 0x27, 0x4B, 0x4E, 0xFF};

// Service 090F holds blocks filled with 00, 01 … 05; service 008B one block of AA.
CardImage small_card() {
    CardImage image;
    image.idm = kIdm;
    image.pmm = kPmm;
    image.block_limit = 4;
    for (Byte b = 0; b < 6; ++b) {
        image.services[0x090F].push_back({});
        image.services[0x090F].back().fill(b);
    }
    image.services[0x008B].push_back({});
    image.services[0x008B].back().fill(0xAA);
    return image;
}

Bytes error_frame(Byte sf1, Byte sf2) {
    Bytes frame{0x0C, 0x07};
    frame.insert(frame.end(), kIdm.begin(), kIdm.end());
    frame.insert(frame.end(), {sf1, sf2});
    return frame;
}

// A read naming 090F (index 0) and 008B (index 1), low byte first.
Bytes read_frame(std::vector<BlockListElement> elements, const Idm& idm = kIdm) {
    return build_read_without_encryption(idm, Bytes{0x0F, 0x09, 0x8B, 0x00},
                                         encode_block_list(elements),
                                         static_cast<Byte>(elements.size()));
}

Bytes polling(Byte hi, Byte lo, Byte rc) {
    return {0x06, 0x00, hi, lo, rc, 0x00};
}

TEST(SimCardPolling, AnswersOnlyItsOwnSystemAndKnownRequestCodes) {
    SimulatedCard card(small_card());
    Bytes plain{0x12, 0x01};
    plain.insert(plain.end(), kIdm.begin(), kIdm.end());
    plain.insert(plain.end(), kPmm.begin(), kPmm.end());
    Bytes with_code = plain;
    with_code[0] = 0x14;
    with_code.insert(with_code.end(), {0x80, 0x2B});
    EXPECT_THAT(card.respond(polling(0x80, 0x2B, 0x00)), Optional(plain));
    EXPECT_THAT(card.respond(polling(0x80, 0x2B, 0x01)), Optional(with_code));
    // Wildcards still answer the card's real code.
    EXPECT_THAT(card.respond(polling(0xFF, 0xFF, 0x01)), Optional(with_code));
    EXPECT_THAT(card.respond(polling(0xFF, 0x2B, 0x00)), Optional(plain));

    EXPECT_FALSE(card.respond(polling(0x80, 0x2C, 0x00)));
    EXPECT_FALSE(card.respond(polling(0xFE, 0xFF, 0x00)));  // only FF is a wildcard
    EXPECT_FALSE(card.respond(polling(0x80, 0x2B, 0x02)));
    EXPECT_FALSE(card.respond(Bytes{0x07, 0x00, 0x80, 0x2B, 0x00, 0x00}));  // LEN off
    EXPECT_FALSE(card.respond(Bytes{0x05, 0x00, 0x80, 0x2B, 0x00}));        // no TSN
    EXPECT_FALSE(card.respond(Bytes{}));
    EXPECT_FALSE(card.respond(Bytes{0x03, 0x0A, 0x80}));  // unknown command
    EXPECT_EQ(card.exchanges(), 11);
}

TEST(SimCardRead, AnswersBlocksInListOrderAcrossServices) {
    SimulatedCard card(small_card());
    const auto answer = card.respond(read_frame({{0, 0, 5}, {1, 0, 0}, {0, 0, 2}}));
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 13u + 48u);
    ASSERT_EQ(parse_read_response(*answer, kIdm, 3).error, FrameError::none);
    EXPECT_EQ((*answer)[13], 0x05);
    EXPECT_EQ((*answer)[13 + 16], 0xAA);
    EXPECT_EQ((*answer)[13 + 47], 0x02);
    // A 3-byte element (block number 0x0004, little-endian) reads the same way.
    const auto three = card.respond(
        build_read_without_encryption(kIdm, Bytes{0x0F, 0x09}, Bytes{0x00, 0x04, 0x00}, 1));
    ASSERT_TRUE(three);
    EXPECT_EQ((*three)[13], 0x04);
}

TEST(SimCardRead, OtherIdmAndInconsistentFramesAreIgnored) {
    SimulatedCard card(small_card());
    Idm other = kIdm;
    other[0] ^= 0x80;
    Bytes list_cut = read_frame({{0, 0, 0}, {0, 0, 1}});
    list_cut.pop_back();
    list_cut[0] -= 1;
    Bytes trailing = read_frame({{0, 0, 0}});
    trailing.push_back(0x80);
    trailing[0] += 1;
    Bytes services_cut = read_frame({{0, 0, 0}});
    services_cut.resize(13);  // nSvc 2, one service code, nothing more
    services_cut[0] = 13;
    for (const Bytes& frame : {read_frame({{0, 0, 0}}, other), list_cut, trailing, services_cut}) {
        EXPECT_FALSE(card.respond(frame)) << ::testing::PrintToString(frame);
    }
}

TEST(SimCardRead, ServiceAndBlockCountsOutOfRange) {
    SimulatedCard card(small_card());
    const Bytes seventeen = [] {
        Bytes codes;
        for (int i = 0; i < 17; ++i) {
            codes.insert(codes.end(), {0x0F, 0x09});
        }
        return codes;
    }();
    EXPECT_THAT(card.respond(build_read_without_encryption(kIdm, {}, Bytes{0x80, 0x00}, 1)),
                Optional(error_frame(0xFF, 0xA1)));
    EXPECT_THAT(card.respond(build_read_without_encryption(kIdm, seventeen, Bytes{0x80, 0x00}, 1)),
                Optional(error_frame(0xFF, 0xA1)));
    EXPECT_THAT(card.respond(build_read_without_encryption(kIdm, Bytes{0x0F, 0x09}, {}, 0)),
                Optional(error_frame(0xFF, 0xA2)));
    // block_limit is 4.
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

// Good elements up to `bad_element`, which is `bad`, then another bad one that must not win.
Bytes read_with_bad(int bad_element, BlockListElement bad) {
    std::vector<BlockListElement> elements(static_cast<std::size_t>(bad_element), {0, 0, 1});
    elements.back() = bad;
    elements.push_back({1, 0, 9});
    return read_frame(elements);
}

TEST_P(SimCardElementErrors, FirstBadElementDecidesTheStatus) {
    const ElementErrorCase c = GetParam();
    CardImage image = small_card();
    image.block_limit = 15;
    SimulatedCard card(image);
    card.faults().sf1_encoding = c.encoding;
    EXPECT_THAT(card.respond(read_with_bad(c.bad_element, {2, 0, 0})),
                Optional(error_frame(c.sf1, 0xA6)));  // index past the service list
    EXPECT_THAT(card.respond(read_with_bad(c.bad_element, {0, 1, 0})),
                Optional(error_frame(c.sf1, 0xA7)));  // access mode 1
    EXPECT_THAT(card.respond(read_with_bad(c.bad_element, {0, 0, 6})),
                Optional(error_frame(c.sf1, 0xA8)));  // block 6 of 6
}

INSTANTIATE_TEST_SUITE_P(Sf1, SimCardElementErrors,
                         ::testing::Values(ElementErrorCase{Sf1Encoding::element_index, 1, 0x01},
                                           ElementErrorCase{Sf1Encoding::element_index, 12, 0x0C},
                                           ElementErrorCase{Sf1Encoding::bitmask, 3, 0x04},
                                           ElementErrorCase{Sf1Encoding::bitmask, 8, 0x80},
                                           ElementErrorCase{Sf1Encoding::bitmask, 9, 0xFF},
                                           ElementErrorCase{Sf1Encoding::ff, 2, 0xFF}));

TEST(SimCardRead, ListedServiceMissingFromTheCardIsA6) {
    SimulatedCard card(small_card());
    // 09 0F read low byte first is service 0F09, which the card lacks; access mode 3 is not
    // reached.
    EXPECT_THAT(
        card.respond(build_read_without_encryption(kIdm, Bytes{0x09, 0x0F}, Bytes{0xB0, 0x00}, 1)),
        Optional(error_frame(0x01, 0xA6)));
}

TEST(SimCardFaults, SilentAndRemovedCards) {
    SimulatedCard silent(small_card());
    silent.faults().silent = true;
    EXPECT_FALSE(silent.respond(polling(0x80, 0x2B, 0x00)));
    EXPECT_FALSE(silent.removed());
    EXPECT_EQ(silent.exchanges(), 1);

    SimulatedCard gone(small_card());
    gone.faults().removed_after = 0;
    EXPECT_FALSE(gone.respond(polling(0x80, 0x2B, 0x00)));
    EXPECT_TRUE(gone.removed());

    // Only answered exchanges count towards removed_after.
    SimulatedCard card(small_card());
    card.faults().removed_after = 2;
    EXPECT_TRUE(card.respond(polling(0x80, 0x2B, 0x00)));
    EXPECT_FALSE(card.respond(polling(0x00, 0x03, 0x00)));
    EXPECT_TRUE(card.respond(read_frame({{0, 0, 0}})));
    EXPECT_FALSE(card.removed());
    EXPECT_FALSE(card.respond(read_frame({{0, 0, 0}})));
    EXPECT_TRUE(card.removed());
    EXPECT_FALSE(card.respond(polling(0x80, 0x2B, 0x00)));
    EXPECT_EQ(card.exchanges(), 5);
}

std::optional<Bytes> garbled_read(Garble garble,
                                  std::vector<BlockListElement> elements = {{0, 0, 3}, {1, 0, 0}}) {
    SimulatedCard card(small_card());
    card.faults().garble = garble;
    return card.respond(read_frame(elements));
}

TEST(SimCardGarble, EachModeBreaksReadAnswers) {
    const Bytes good = *garbled_read(Garble::none);
    Bytes expected = good;
    expected[0] += 1;
    EXPECT_THAT(garbled_read(Garble::wrong_length), Optional(expected));
    expected = good;
    expected[1] = 0x06;
    EXPECT_THAT(garbled_read(Garble::wrong_response_code), Optional(expected));
    expected = good;
    expected.pop_back();
    EXPECT_THAT(garbled_read(Garble::truncate), Optional(expected));

    const Bytes other = *garbled_read(Garble::wrong_idm);
    ASSERT_EQ(other.size(), good.size());
    int differing_bits = 0;
    for (std::size_t i = 0; i < good.size(); ++i) {
        differing_bits += __builtin_popcount(good[i] ^ other[i]);
        EXPECT_TRUE(good[i] == other[i] || (i >= 2 && i < 10)) << "byte " << i;
    }
    EXPECT_EQ(differing_bits, 1);

    // One block fewer with LEN and data agreeing; a one-block read gets no blocks.
    const Bytes fewer = *garbled_read(Garble::wrong_block_count);
    expected.assign(good.begin(), good.end() - 16);
    expected[0] = 13 + 16;
    expected[12] = 1;
    EXPECT_EQ(fewer, expected);
    const Bytes none = *garbled_read(Garble::wrong_block_count, {{0, 0, 3}});
    EXPECT_EQ(none.size(), 13u);
    EXPECT_EQ(parse_read_response(none, kIdm, 1).error, FrameError::wrong_block_count);

    // Error answers keep their status; framing faults still apply to them.
    EXPECT_THAT(garbled_read(Garble::wrong_block_count, {{0, 0, 6}}),
                Optional(error_frame(0x01, 0xA8)));
    EXPECT_EQ(garbled_read(Garble::truncate, {{0, 0, 6}})->size(), 11u);
    // Polling answers are never garbled.
    SimulatedCard card(small_card());
    card.faults().garble = Garble::wrong_idm;
    EXPECT_EQ((*card.respond(polling(0x80, 0x2B, 0x00)))[9], kIdm[7]);
}

TEST(DemoCard, HasTheFourServicesWithDistinctDumpFriendlyBlocks) {
    const CardImage image = demo_card();
    EXPECT_EQ(image.system_code, 0x802B);
    EXPECT_EQ(image.block_limit, 15);
    std::map<std::uint16_t, std::size_t> sizes;
    std::set<Block> seen;
    for (const auto& [code, blocks] : image.services) {
        sizes[code] = blocks.size();
        for (const Block& block : blocks) {
            EXPECT_TRUE(seen.insert(block).second) << "duplicate block in " << code;
            EXPECT_TRUE(std::any_of(block.begin(), block.end(), [](Byte b) { return b < 0x10; }));
            EXPECT_TRUE(std::any_of(block.begin(), block.end(),
                                    [](Byte b) { return (b >> 4) >= 0xA || (b & 0x0F) >= 0xA; }));
        }
    }
    EXPECT_EQ(sizes, (std::map<std::uint16_t, std::size_t>{
                         {0x008B, 1}, {0x090F, 20}, {0x108F, 3}, {0x10CB, 2}}));
    EXPECT_EQ(demo_card().services, image.services);
}

}  // namespace
}  // namespace felica
