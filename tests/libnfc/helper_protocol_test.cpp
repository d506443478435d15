// The messages between the program and its libnfc helper: what goes over the pipes comes back
// as it was sent, and whatever else arrives is refused.
#include "felica/libnfc/helper_protocol.h"

#include <gtest/gtest.h>

namespace felica::libnfc::protocol {
namespace {

using Status = Parsed::Status;

Bytes encoded(const Message& message) {
    const std::optional<Bytes> bytes = encode(message);
    EXPECT_TRUE(bytes.has_value());
    return bytes.value_or(Bytes{});
}

TEST(HelperProtocol, EveryMessageComesBackAsSentAndTakesOnlyItsBytes) {
    const Message messages[] = {
        OpenRequest{},
        OpenRequest{"pn532_uart:/dev/ttyUSB0"},
        PollRequest{2417, {0x06, 0x00, 0x80, 0x2B, 0x00, 0x00}},
        ExchangeRequest{0xFFFFFFFF, Bytes(255, 0xA5)},
        CloseRequest{},
        Opened{14, "libnfc ACR122U"},
        OpenFailed{RwError::no_reader, "libnfc could not open its default device"},
        TransferDone{RwError::none, Bytes(264, 0x5A), ""},
        TransferDone{RwError::reader_timeout, {}, "libnfc: Operation timed-out"},
        Closed{},
    };
    for (const Message& message : messages) {
        SCOPED_TRACE(message.index());
        Bytes bytes = encoded(message);
        const std::size_t size = bytes.size();
        for (std::size_t cut = 0; cut < size; ++cut) {  // each beginning waits for the rest
            ASSERT_EQ(parse_message(ByteView(bytes).first(cut)).status, Status::incomplete);
        }
        bytes.push_back(0x04);  // the start of the next message
        const Parsed parsed = parse_message(bytes);
        ASSERT_EQ(parsed.status, Status::complete);
        EXPECT_EQ(parsed.message, message);
        EXPECT_EQ(parsed.size, size);
    }
}

TEST(HelperProtocol, RefusesWhatNoPeerMaySend) {
    const Bytes malformed[] = {
        {0x00},                         // unknown type, refused before any length
        {0x04, 0x00, 0x01, 0x00},       // close with a payload
        {0x02, 0x01, 0x04},             // a poll longer than any frame, refused from its header
        {0x01, 0x00, 0x01, 0x02},       // open: connection string flag neither 0 nor 1
        {0x01, 0x00, 0x02, 0x00, 'x'},  // open: a string after "no connection string"
        {0x01, 0x00, 0x03, 0x01, 'x', 0x00},   // open: NUL in the connection string
        {0x03, 0x00, 0x04, 0, 0, 0, 1},        // exchange without a frame
        {0x81, 0x00, 0x01, 0x00},              // opened with 0 blocks per read
        {0x81, 0x00, 0x01, 0x10},              // opened with 16 blocks per read
        {0x82, 0x00, 0x01, 0x00},              // open failed without an error
        {0x82, 0x00, 0x01, 0x08},              // open failed with an error no helper reports
        {0x83, 0x00, 0x03, 0x13, 0x00, 0x42},  // a failed transfer with a response
        {0x83, 0x00, 0x03, 0x00, 0x05, 'x'},   // a detail longer than the message
    };
    for (const Bytes& bytes : malformed) {
        EXPECT_EQ(parse_message(bytes).status, Status::malformed) << testing::PrintToString(bytes);
    }
    Bytes long_answer = encoded(TransferDone{RwError::none, Bytes(264, 0), ""});
    long_answer[2] += 1;  // 265 bytes of answer
    long_answer.push_back(0);
    EXPECT_EQ(parse_message(long_answer).status, Status::malformed);
}

TEST(HelperProtocol, EncodesNothingThePeerWouldRefuse) {
    EXPECT_FALSE(encode(ExchangeRequest{0, {}}));
    EXPECT_FALSE(encode(PollRequest{0, Bytes(256, 0)}));
    EXPECT_FALSE(encode(OpenRequest{std::string(1024, 'x')}));
    EXPECT_FALSE(encode(OpenRequest{std::string("a\0b", 3)}));
    EXPECT_FALSE(encode(TransferDone{RwError::io_error, {0x01}, ""}));
    // Texts are diagnostics: cut, not refused.
    const Parsed cut = parse_message(encoded(OpenFailed{RwError::io_error, std::string(999, 'r')}));
    ASSERT_EQ(cut.status, Status::complete);
    EXPECT_EQ(std::get<OpenFailed>(cut.message).reason.size(), kMaxText);
}

}  // namespace
}  // namespace felica::libnfc::protocol
