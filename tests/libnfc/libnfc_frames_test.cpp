// What the backend hands libnfc and makes of its answers, without a device.
#include "felica/libnfc/libnfc_frames.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nfc/nfc.h>

#include "felica/frames.h"

namespace felica::libnfc {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

TEST(LibnfcFrames, PollingPayloadIsThePollingFrameWithoutLen) {
    const Bytes frame = build_polling(0x802B, RequestCode::system_code, 3);
    EXPECT_THAT(polling_payload(frame),
                ::testing::Optional(ElementsAre(0x00, 0x80, 0x2B, 0x01, 0x03)));

    const Bytes wrong_len = {0x07, 0x00, 0x80, 0x2B, 0x00, 0x00};
    const Bytes not_polling = {0x06, 0x06, 0x80, 0x2B, 0x00, 0x00};
    const Bytes short_frame = {0x05, 0x00, 0x80, 0x2B, 0x00};
    EXPECT_EQ(polling_payload(wrong_len), std::nullopt);
    EXPECT_EQ(polling_payload(not_polling), std::nullopt);
    EXPECT_EQ(polling_payload(short_frame), std::nullopt);
}

TEST(LibnfcFrames, PollingAnswerIsRebuiltAsTheCardSentIt) {
    nfc_felica_info info{};
    info.szLen = 18;
    info.btResCode = 0x01;
    for (Byte i = 0; i < 8; ++i) {
        info.abtId[i] = static_cast<Byte>(0x10 + i);
        info.abtPad[i] = static_cast<Byte>(0x20 + i);
    }
    info.abtSysCode[0] = 0x80;  // left over: an answer of LEN 18 has no system code
    info.abtSysCode[1] = 0x2B;
    const Bytes plain = polling_answer(info);
    ASSERT_EQ(plain.size(), 18u);
    const PollingParse parsed = parse_polling_response(plain, RequestCode::none, 0x802B);
    EXPECT_EQ(parsed.error, FrameError::none);
    EXPECT_EQ(parsed.response.idm[7], 0x17);
    EXPECT_EQ(parsed.response.pmm[0], 0x20);

    info.szLen = 20;
    const Bytes with_code = polling_answer(info);
    EXPECT_EQ(
        parse_polling_response(with_code, RequestCode::system_code, 0x802B).response.system_code,
        0x802B);
}

TEST(LibnfcFrames, TimeoutsAreWholeMillisecondsOf300OrMore) {
    EXPECT_EQ(timeout_ms(0us), 300);  // never 0: libnfc would wait forever
    EXPECT_EQ(timeout_ms(20'000us), 300);
    EXPECT_EQ(timeout_ms(300'001us), 301);
    EXPECT_EQ(timeout_ms(1'000'000us), 1000);
    EXPECT_GT(timeout_ms(std::chrono::microseconds::max()), 0);
}

TEST(LibnfcFrames, Acr122ReadersTakeOneBlockLess) {
    EXPECT_EQ(max_blocks_for("pn532_uart:/dev/ttyUSB0"), 15);
    EXPECT_EQ(max_blocks_for("pn53x_usb:001:004"), 15);
    EXPECT_EQ(max_blocks_for("acr122_usb:001:005"), 14);
    EXPECT_EQ(max_blocks_for("acr122_pcsc:ACS ACR122U PICC Interface 00 00"), 14);
    EXPECT_EQ(max_blocks_for("acr122s:/dev/ttyUSB1"), 14);
}

}  // namespace
}  // namespace felica::libnfc
