#include "felica/frames.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "felica/timeouts.h"

namespace felica {
namespace {

using ::testing::ElementsAre;

const Idm kIdm = {0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};
const Pmm kPmm = {0x01, 0x20, 0x22, 0x04, 0x27, 0x4B, 0x4E, 0xFF};

Bytes frame(std::initializer_list<Byte> head, ByteView tail1 = {}, ByteView tail2 = {}) {
    Bytes out(head);
    out.insert(out.end(), tail1.begin(), tail1.end());
    out.insert(out.end(), tail2.begin(), tail2.end());
    out[0] = static_cast<Byte>(out.size());
    return out;
}

TEST(Frames, PollingIsByteExactAndItsAnswerChecked) {
    EXPECT_THAT(build_polling(0x802B, RequestCode::none, 0), ElementsAre(6, 0, 0x80, 0x2B, 0, 0));
    EXPECT_THAT(build_polling(0xFFFF, RequestCode::system_code, 3),
                ElementsAre(6, 0, 0xFF, 0xFF, 1, 3));

    const Bytes answer = frame({0, 0x01}, kIdm, kPmm);
    const PollingParse ok = parse_polling_response(answer, RequestCode::none, 0x802B);
    ASSERT_EQ(ok.error, FrameError::none);
    EXPECT_EQ(ok.response.idm, kIdm);
    EXPECT_EQ(ok.response.pmm, kPmm);
    Bytes coded = answer;
    coded.insert(coded.end(), {0x80, 0x2B});
    coded[0] = 0x14;
    EXPECT_EQ(parse_polling_response(coded, RequestCode::system_code, 0xFF2B).response.system_code,
              0x802B);

    Bytes wrong_code = answer;
    wrong_code[1] = 0x07;
    Bytes bad_len = answer;
    bad_len[0] = 0x13;
    const std::pair<Bytes, FrameError> broken[] = {
        {wrong_code, FrameError::wrong_response_code},
        {bad_len, FrameError::length_mismatch},
        {Bytes(answer.begin(), answer.begin() + 10), FrameError::too_short},
        // A longer answer whose LEN agrees is still not the kind asked for.
        {coded, FrameError::length_mismatch},
    };
    for (const auto& [bytes, error] : broken) {
        EXPECT_EQ(parse_polling_response(bytes, RequestCode::none, 0x802B).error, error);
    }
    EXPECT_EQ(parse_polling_response(coded, RequestCode::system_code, 0x8008).error,
              FrameError::wrong_system_code);
}

TEST(Frames, BlockListsRoundTripAndCutListsAreRefused) {
    const std::vector<BlockListElement> elements = {{0, 0, 0}, {1, 0, 0x13}, {2, 0, 0x1234}};
    const Bytes list = encode_block_list(elements);
    EXPECT_THAT(list, ElementsAre(0x80, 0x00, 0x81, 0x13, 0x02, 0x34, 0x12));
    const auto decoded = decode_block_list(list, 3);
    ASSERT_TRUE(decoded);
    EXPECT_EQ((*decoded)[2].block_number, 0x1234);
    EXPECT_EQ((*decoded)[1].service_index, 1);
    EXPECT_EQ((*decode_block_list(Bytes{0x90, 0x05}, 1))[0].access_mode, 1);
    EXPECT_FALSE(decode_block_list(list, 4));
    EXPECT_FALSE(decode_block_list(ByteView(list).first(6), 3));  // ends inside an element
}

TEST(Frames, ReadIsByteExactAndItsAnswerMustBeWhatWasAsked) {
    EXPECT_THAT(
        build_read_without_encryption(kIdm, Bytes{0x0F, 0x09}, Bytes{0x80, 0x0F, 0x80, 0x10}, 2),
        ElementsAre(0x12, 0x06, 0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4, 0x01, 0x0F, 0x09,
                    0x02, 0x80, 0x0F, 0x80, 0x10));

    Bytes data(48);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<Byte>(i);
    }
    Bytes status_and_data = {0x00, 0x00, 3};
    status_and_data.insert(status_and_data.end(), data.begin(), data.end());
    const Bytes answer = frame({0, 0x07}, kIdm, status_and_data);
    const ReadParse ok = parse_read_response(answer, kIdm, 3);
    ASSERT_EQ(ok.error, FrameError::none);
    EXPECT_EQ(Bytes(ok.block_data.begin(), ok.block_data.end()), data);

    Idm other = kIdm;
    other[7] ^= 1;
    Bytes code = answer;
    code[1] = 0x06;
    Bytes cut = answer;
    cut.pop_back();
    Bytes short_data = cut;
    short_data[0] = static_cast<Byte>(short_data.size());
    EXPECT_EQ(parse_read_response(answer, kIdm, 2).error, FrameError::wrong_block_count);
    EXPECT_EQ(parse_read_response(answer, other, 3).error, FrameError::wrong_idm);
    EXPECT_EQ(parse_read_response(code, kIdm, 3).error, FrameError::wrong_response_code);
    EXPECT_EQ(parse_read_response(cut, kIdm, 3).error, FrameError::length_mismatch);
    EXPECT_EQ(parse_read_response(short_data, kIdm, 3).error, FrameError::wrong_data_length);
    // LEN agrees, but the block count is missing.
    EXPECT_EQ(parse_read_response(frame({0, 0x07}, kIdm, Bytes{0x00, 0x00}), kIdm, 1).error,
              FrameError::too_short);

    // An error answer carries its status flags and no data.
    const ReadParse refused =
        parse_read_response(frame({0, 0x07}, kIdm, Bytes{0xFF, 0xA2}), kIdm, 15);
    EXPECT_EQ(refused.error, FrameError::status_error);
    EXPECT_EQ(refused.status_flag_1, 0xFF);
    EXPECT_EQ(refused.status_flag_2, 0xA2);
    EXPECT_TRUE(refused.block_data.empty());
}

TEST(Frames, WaitsFollowThePmmAndStayBounded) {
    // PMm[5] = 4B: E = 1, B = 1, A = 3 → 302.1 µs × (2n + 4) × 4.
    EXPECT_EQ(read_response_time(kPmm, 1).count(), 7251);
    EXPECT_EQ(read_response_time(kPmm, 15).count(), 41086);
    Pmm slowest = kPmm;
    slowest[5] = 0xFF;
    EXPECT_EQ(bounded_timeout(read_response_time(slowest, 15), {}), kMaxCommandTimeout);
    Pmm fastest = kPmm;
    fastest[5] = 0x00;
    EXPECT_EQ(read_response_time(fastest, 1).count(), 605);
    EXPECT_EQ(bounded_timeout(read_response_time(fastest, 1), {}), kMinCommandTimeout);
    EXPECT_EQ(polling_response_time(1).count(), 3625);
    EXPECT_EQ(bounded_timeout(std::chrono::microseconds{41086}, std::chrono::microseconds{100'000})
                  .count(),
              141086);
}

}  // namespace
}  // namespace felica
