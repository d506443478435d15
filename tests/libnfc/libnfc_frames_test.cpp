// What the backend hands libnfc and makes of its answers, without a device.
#include "felica/libnfc/libnfc_frames.h"
#include "felica/libnfc/libnfc_timing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nfc/nfc.h>

#include "felica/frames.h"

namespace felica::libnfc {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::Optional;

TEST(LibnfcFrames, PollingPayloadIsThePollingFrameWithoutLen) {
    const Bytes frame = build_polling(0x802B, RequestCode::system_code, 3);
    EXPECT_THAT(polling_payload(frame), Optional(ElementsAre(0x00, 0x80, 0x2B, 0x01, 0x03)));
    for (const Bytes& wrong : {Bytes{0x07, 0x00, 0x80, 0x2B, 0x00, 0x00},  // LEN off
                               Bytes{0x06, 0x06, 0x80, 0x2B, 0x00, 0x00},  // not polling
                               Bytes{0x05, 0x00, 0x80, 0x2B, 0x00}}) {
        EXPECT_EQ(polling_payload(wrong), std::nullopt);
    }
}

// The library polls without asking for the system code; nfc-list and other callers ask.
TEST(LibnfcFrames, PollingAnswerKeepsTheSystemCodeOnlyWhenTheCardSentOne) {
    nfc_felica_info info{};
    info.szLen = 18;
    info.btResCode = 0x01;
    info.abtId[7] = 0x17;
    info.abtSysCode[0] = 0x80;
    info.abtSysCode[1] = 0x2B;
    EXPECT_EQ(parse_polling_response(polling_answer(info), RequestCode::none, 0x802B).error,
              FrameError::none);
    info.szLen = 20;
    const PollingParse with_code =
        parse_polling_response(polling_answer(info), RequestCode::system_code, 0x802B);
    EXPECT_EQ(with_code.error, FrameError::none);
    EXPECT_EQ(with_code.response.idm[7], 0x17);
    EXPECT_EQ(with_code.response.system_code, 0x802B);
}

TEST(LibnfcFrames, TimeoutsAreWholeMillisecondsOf300OrMore) {
    EXPECT_EQ(timeout_ms(0us), 300);  // never 0: libnfc would wait forever
    EXPECT_EQ(timeout_ms(20'000us), 300);
    EXPECT_EQ(timeout_ms(300'001us), 301);
    EXPECT_EQ(timeout_ms(1'000'000us), 1000);
    EXPECT_GT(timeout_ms(std::chrono::microseconds::max()), 0);
}

}  // namespace
}  // namespace felica::libnfc
