#include "felica/frames.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "felica/errors.h"
#include "felica/timeouts.h"

namespace felica {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const Idm kIdm = {0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};
const Pmm kPmm = {0x01, 0x20, 0x22, 0x04, 0x27, 0x4B, 0x4E, 0xFF};

Bytes read_answer(const Idm& idm, Byte count) {
    Bytes frame = {0, 0x07};
    frame.insert(frame.end(), idm.begin(), idm.end());
    frame.insert(frame.end(), {0x00, 0x00, count});
    for (int i = 0; i < 16 * count; ++i) {
        frame.push_back(static_cast<Byte>(i));
    }
    frame[0] = static_cast<Byte>(frame.size());
    return frame;
}

TEST(PollingFrame, CarriesSystemCodeHighByteFirst) {
    EXPECT_THAT(build_polling(0x802B, RequestCode::none, 0), ElementsAre(6, 0, 0x80, 0x2B, 0, 0));
    EXPECT_THAT(build_polling(0xFFFF, RequestCode::system_code, 3),
                ElementsAre(6, 0, 0xFF, 0xFF, 1, 3));
}

TEST(PollingFrame, ParsesAnswersAndRefusesBrokenOnes) {
    Bytes answer = {0x12, 0x01};
    answer.insert(answer.end(), kIdm.begin(), kIdm.end());
    answer.insert(answer.end(), kPmm.begin(), kPmm.end());
    const PollingParse ok = parse_polling_response(answer, RequestCode::none, 0x802B);
    ASSERT_EQ(ok.error, FrameError::none);
    EXPECT_EQ(ok.response.idm, kIdm);
    EXPECT_EQ(ok.response.pmm, kPmm);
    EXPECT_FALSE(ok.response.system_code);

    Bytes with_code = answer;
    with_code[0] = 0x14;
    with_code.insert(with_code.end(), {0x80, 0x2B});
    const PollingParse coded = parse_polling_response(with_code, RequestCode::system_code, 0xFF2B);
    ASSERT_EQ(coded.error, FrameError::none);
    EXPECT_EQ(coded.response.system_code, 0x802B);
    EXPECT_EQ(parse_polling_response(with_code, RequestCode::system_code, 0x8008).error,
              FrameError::wrong_system_code);

    Bytes wrong_code = answer;
    wrong_code[1] = 0x07;
    EXPECT_EQ(parse_polling_response(wrong_code, RequestCode::none, 0x802B).error,
              FrameError::wrong_response_code);
    Bytes bad_len = answer;
    bad_len[0] = 0x13;
    EXPECT_EQ(parse_polling_response(bad_len, RequestCode::none, 0x802B).error,
              FrameError::length_mismatch);
    EXPECT_EQ(parse_polling_response(ByteView(answer).first(10), RequestCode::none, 0x802B).error,
              FrameError::too_short);
    // A longer frame whose LEN agrees is still not a polling answer of the kind asked for.
    EXPECT_EQ(parse_polling_response(with_code, RequestCode::none, 0x802B).error,
              FrameError::length_mismatch);
}

TEST(BlockList, RoundTripsShortAndLongElements) {
    const std::vector<BlockListElement> elements = {{0, 0, 0}, {1, 0, 0x13}, {2, 0, 0x1234}};
    const Bytes list = encode_block_list(elements);
    EXPECT_THAT(list, ElementsAre(0x80, 0x00, 0x81, 0x13, 0x02, 0x34, 0x12));
    const auto decoded = decode_block_list(list, 3);
    ASSERT_TRUE(decoded);
    EXPECT_EQ((*decoded)[2].block_number, 0x1234);
    EXPECT_EQ((*decoded)[1].service_index, 1);

    const Bytes access_mode = {0x90, 0x05};
    EXPECT_EQ((*decode_block_list(access_mode, 1))[0].access_mode, 1);
    EXPECT_FALSE(decode_block_list(list, 4));                     // fewer elements than asked
    EXPECT_FALSE(decode_block_list(ByteView(list).first(6), 3));  // ends inside an element
    EXPECT_FALSE(decode_block_list(ByteView(list).first(1), 1));
}

TEST(ReadFrame, IsByteExact) {
    const Bytes services = {0x0F, 0x09};
    const Bytes list = {0x80, 0x0F, 0x80, 0x10};
    EXPECT_THAT(build_read_without_encryption(kIdm, services, list, 2),
                ElementsAreArray<Byte>({0x12, 0x06, 0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4,
                                        0x01, 0x0F, 0x09, 0x02, 0x80, 0x0F, 0x80, 0x10}));
}

TEST(ReadAnswer, AcceptsOnlyWhatWasAsked) {
    const Bytes good = read_answer(kIdm, 3);
    const ReadParse ok = parse_read_response(good, kIdm, 3);
    ASSERT_EQ(ok.error, FrameError::none);
    ASSERT_EQ(ok.block_data.size(), 48u);
    EXPECT_EQ(ok.block_data[47], 47);

    EXPECT_EQ(parse_read_response(good, kIdm, 2).error, FrameError::wrong_block_count);
    Idm other = kIdm;
    other[7] ^= 1;
    EXPECT_EQ(parse_read_response(good, other, 3).error, FrameError::wrong_idm);

    Bytes code = good;
    code[1] = 0x06;
    EXPECT_EQ(parse_read_response(code, kIdm, 3).error, FrameError::wrong_response_code);

    Bytes truncated = good;
    truncated.pop_back();
    EXPECT_EQ(parse_read_response(truncated, kIdm, 3).error, FrameError::length_mismatch);
    truncated[0] = static_cast<Byte>(truncated.size());  // consistent LEN, data one byte short
    EXPECT_EQ(parse_read_response(truncated, kIdm, 3).error, FrameError::wrong_data_length);

    EXPECT_EQ(parse_read_response(Bytes{}, kIdm, 1).error, FrameError::too_short);
    EXPECT_EQ(parse_read_response(ByteView(good).first(11), kIdm, 1).error, FrameError::too_short);

    Bytes no_count(good.begin(), good.begin() + 12);
    no_count[0] = 12;
    EXPECT_EQ(parse_read_response(no_count, kIdm, 1).error, FrameError::too_short);
}

TEST(ReadAnswer, ReportsStatusFlagsWithoutData) {
    Bytes error = {0x0C, 0x07};
    error.insert(error.end(), kIdm.begin(), kIdm.end());
    error.insert(error.end(), {0xFF, 0xA2});
    const ReadParse parsed = parse_read_response(error, kIdm, 15);
    EXPECT_EQ(parsed.error, FrameError::status_error);
    EXPECT_EQ(parsed.status_flag_1, 0xFF);
    EXPECT_EQ(parsed.status_flag_2, 0xA2);
    EXPECT_TRUE(parsed.block_data.empty());
}

TEST(Timeouts, FollowThePmmAndStayBounded) {
    // PMm[5] = 4B: E = 1, B = 1, A = 3 → 302.1 µs × (2n + 4) × 4.
    EXPECT_EQ(read_response_time(kPmm, 1).count(), 7251);    // 302.1 × 6 × 4 = 7250.4
    EXPECT_EQ(read_response_time(kPmm, 15).count(), 41086);  // 302.1 × 34 × 4 = 41085.6
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

TEST(ErrorTypes, EveryFrameErrorHasItsOwnReaderError) {
    const FrameError all[] = {FrameError::too_short,           FrameError::length_mismatch,
                              FrameError::wrong_response_code, FrameError::wrong_idm,
                              FrameError::status_error,        FrameError::wrong_block_count,
                              FrameError::wrong_data_length,   FrameError::wrong_system_code};
    std::vector<RwError> seen;
    for (FrameError error : all) {
        const RwError rw = rw_error_of(error);
        EXPECT_NE(rw, RwError::none);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), rw), 0) << to_string(error);
        seen.push_back(rw);
    }
}

}  // namespace
}  // namespace felica
