// The three reader dialects as pure codecs, and their sessions against a scripted channel.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <deque>

#include "felica/pcsc/apdu.h"
#include "felica/pcsc/direct_frames.h"
#include "felica/pcsc/pn532_direct.h"
#include "felica/pcsc/transparent_session.h"
#include "scripted_channel.h"

namespace {

using namespace std::chrono_literals;
using felica::Bytes;
using felica::RwError;
using felica::Transfer;
using felica::pcsc::ApduReply;
using felica::pcsc::DialectStart;
using felica::pcsc::test::ScriptedChannel;
using testing::ElementsAre;
using testing::ElementsAreArray;

// A read answer of `blocks` blocks, as a card sends it (LEN 07 IDm SF1 SF2 n data).
Bytes read_answer(int blocks) {
    Bytes frame(13 + 16 * blocks, 0xA5);
    frame[0] = static_cast<felica::Byte>(frame.size());
    frame[1] = 0x07;
    return frame;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

const Bytes kFrame = {0x06, 0x00, 0x80, 0x2B, 0x00, 0x00};  // a polling frame
const Bytes kAnswer = {0x04, 0x01, 0xAA, 0xBB};

struct Case {
    const char* name;
    Bytes response;
    RwError error;
    Bytes frame;  // when no error
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// The case's name as a test name: letters and digits, the rest as underscores.
std::string case_name(const testing::TestParamInfo<Case>& info) {
    std::string name = info.param.name;
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

void expect_transfer(const Transfer& t, const Case& c) {
    EXPECT_EQ(t.error, c.error) << felica::to_string(t.error);
    if (c.error == RwError::none) {
        EXPECT_EQ(t.response, c.frame);
    }
}

TEST(Apdu, BerLengthsAndDataObjects) {
    for (const auto& [length, encoded] :
         std::vector<std::pair<std::size_t, Bytes>>{{0x7F, {0x7F}},
                                                    {0x80, {0x81, 0x80}},
                                                    {0xFF, {0x81, 0xFF}},
                                                    {0x100, {0x82, 0x01, 0x00}}}) {
        Bytes out;
        felica::pcsc::append_ber_length(out, length);
        EXPECT_EQ(out, encoded) << length;
    }
    const Bytes data = {0x5F, 0x46, 0x01, 0x07, 0x97, 0x81, 0x02, 0x0A, 0x0B, 0xC0, 0x00};
    const auto objects = felica::pcsc::parse_data_objects(data);
    ASSERT_TRUE(objects);
    ASSERT_EQ(objects->size(), 3u);
    EXPECT_EQ((*objects)[0].tag, 0x5F46u);
    EXPECT_THAT((*objects)[1].value, ElementsAre(0x0A, 0x0B));
    EXPECT_TRUE((*objects)[2].value.empty());
    // A length past the end, a tag with no length, a cut-off two-byte tag, a 4-byte length.
    for (const Bytes& broken :
         {Bytes{0x97, 0x03, 0x01}, Bytes{0x97}, Bytes{0x5F}, Bytes{0x97, 0x84, 0, 0, 0, 1, 0xAA}}) {
        EXPECT_FALSE(felica::pcsc::parse_data_objects(broken));
    }
}

TEST(Apdu, BlocksFitting) {
    EXPECT_EQ(felica::pcsc::blocks_fitting(256), 15);
    EXPECT_EQ(felica::pcsc::blocks_fitting(252), 14);  // 13 + 16 × 15 = 253 would not fit
    EXPECT_EQ(felica::pcsc::blocks_fitting(13 + 16), 1);
    EXPECT_EQ(felica::pcsc::blocks_fitting(4096), 15);
}

// ---- PC/SC transparent session ----

class TransparentExchange : public testing::TestWithParam<Case> {};

TEST_P(TransparentExchange, Answer) {
    expect_transfer(felica::pcsc::transparent::parse_exchange_response(GetParam().response),
                    GetParam());
}

const Bytes kOk = {0xC0, 0x03, 0x00, 0x90, 0x00};
const Bytes kSw = {0x90, 0x00};

INSTANTIATE_TEST_SUITE_P(
    Cases, TransparentExchange,
    testing::Values(
        Case{"full",
             cat({kOk, {0x92, 0x01, 0x00, 0x96, 0x02, 0x00, 0x00, 0x97, 0x04}, kAnswer, kSw}),
             RwError::none, kAnswer},
        Case{"response object alone", cat({kOk, {0x97, 0x04}, kAnswer, kSw}), RwError::none,
             kAnswer},
        Case{"two-byte length", cat({kOk, {0x97, 0x81, 0xED}, read_answer(14), kSw}), RwError::none,
             read_answer(14)},
        Case{"card silent", {0xC0, 0x03, 0x01, 0x64, 0x01, 0x90, 0x00}, RwError::timeout, {}},
        Case{"card silent, warning word",
             {0xC0, 0x03, 0x01, 0x64, 0x01, 0x63, 0x00},
             RwError::timeout,
             {}},
        Case{"reader error", {0xC0, 0x03, 0x01, 0x6F, 0x00, 0x90, 0x00}, RwError::io_error, {}},
        Case{"error status under a foreign word",
             {0xC0, 0x03, 0x01, 0x64, 0x01, 0x6A, 0x81},
             RwError::malformed_response,
             {}},
        Case{"success under a wrong word",
             cat({kOk, {0x97, 0x04}, kAnswer, {0x6F, 0x00}}),
             RwError::malformed_response,
             {}},
        Case{"status word alone", {0x6A, 0x81}, RwError::malformed_response, {}},
        Case{"one byte", {0x90}, RwError::malformed_response, {}},
        Case{
            "no status object", cat({{0x97, 0x04}, kAnswer, kSw}), RwError::malformed_response, {}},
        Case{"short status object",
             cat({{0xC0, 0x02, 0x90, 0x00, 0x97, 0x04}, kAnswer, kSw}),
             RwError::malformed_response,
             {}},
        Case{"no response object", cat({kOk, kSw}), RwError::malformed_response, {}},
        Case{"response object cut short",
             cat({kOk, {0x97, 0x05}, kAnswer, kSw}),
             RwError::malformed_response,
             {}}),
    case_name);

TEST(TransparentSession, ControlAnswers) {
    namespace ts = felica::pcsc::transparent;
    EXPECT_EQ(ts::parse_control_response(Bytes{0xC0, 0x03, 0x00, 0x90, 0x00, 0x90, 0x00}),
              RwError::none);
    EXPECT_EQ(ts::parse_control_response(Bytes{0x6A, 0x81}), RwError::malformed_response);
    EXPECT_EQ(ts::parse_control_response(Bytes{0xC0, 0x03, 0x00, 0x90, 0x00, 0x6A, 0x81}),
              RwError::malformed_response);
    EXPECT_EQ(ts::parse_control_response(Bytes{0xC0, 0x03, 0x01, 0x6A, 0x81, 0x90, 0x00}),
              RwError::io_error);
}

// ---- PN532 behind Direct Transmit ----

TEST(Pn532, RfTimeoutCodeCoversTheTimeout) {
    namespace pn = felica::pcsc::pn532;
    EXPECT_EQ(pn::rf_timeout_code(0us), 0x01);
    EXPECT_EQ(pn::rf_timeout_code(100us), 0x01);
    EXPECT_EQ(pn::rf_timeout_code(101us), 0x02);
    EXPECT_EQ(pn::rf_timeout_code(20ms), 0x09);  // 25.6 ms
    EXPECT_EQ(pn::rf_timeout_code(25600us), 0x09);
    EXPECT_EQ(pn::rf_timeout_code(25601us), 0x0A);
    EXPECT_EQ(pn::rf_timeout_code(1s), 0x0F);  // 1.64 s
    EXPECT_EQ(pn::rf_timeout_code(1h), 0x10);  // the longest there is, never 00 (no timeout)
}

const Bytes kPolled = {0x12, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

class Pn532Polling : public testing::TestWithParam<Case> {};

TEST_P(Pn532Polling, Answer) {
    expect_transfer(felica::pcsc::pn532::parse_list_passive_target_response(GetParam().response),
                    GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Pn532Polling,
    testing::Values(
        Case{"found", cat({{0xD5, 0x4B, 0x01, 0x01}, kPolled, kSw}), RwError::none, kPolled},
        Case{"none", {0xD5, 0x4B, 0x00, 0x90, 0x00}, RwError::timeout, {}},
        Case{"cut short",
             cat({{0xD5, 0x4B, 0x01, 0x01}, Bytes(kPolled.begin(), kPolled.end() - 1), kSw}),
             RwError::malformed_response,
             {}},
        Case{"bytes after the target",
             cat({{0xD5, 0x4B, 0x01, 0x01}, kPolled, {0x00}, kSw}),
             RwError::malformed_response,
             {}},
        Case{"wrong target number",
             cat({{0xD5, 0x4B, 0x01, 0x02}, kPolled, kSw}),
             RwError::malformed_response,
             {}},
        Case{"answer to another command",
             cat({{0xD5, 0x43, 0x01, 0x01}, kPolled, kSw}),
             RwError::malformed_response,
             {}},
        Case{"wrong status word",
             cat({{0xD5, 0x4B, 0x01, 0x01}, kPolled, {0x63, 0x00}}),
             RwError::malformed_response,
             {}},
        Case{"empty", {0x90, 0x00}, RwError::malformed_response, {}}),
    case_name);

class Pn532Exchange : public testing::TestWithParam<Case> {};

TEST_P(Pn532Exchange, Answer) {
    expect_transfer(felica::pcsc::pn532::parse_communicate_thru_response(GetParam().response),
                    GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Pn532Exchange,
    testing::Values(Case{"answer", cat({{0xD5, 0x43, 0x00}, kAnswer, kSw}), RwError::none, kAnswer},
                    Case{"timeout", {0xD5, 0x43, 0x01, 0x90, 0x00}, RwError::timeout, {}},
                    Case{"timeout, NAD bit", {0xD5, 0x43, 0x41, 0x90, 0x00}, RwError::timeout, {}},
                    Case{"CRC error", {0xD5, 0x43, 0x02, 0x90, 0x00}, RwError::io_error, {}},
                    Case{"no status", {0xD5, 0x43, 0x90, 0x00}, RwError::malformed_response, {}},
                    Case{"wrong code",
                         cat({{0xD5, 0x41, 0x00}, kAnswer, kSw}),
                         RwError::malformed_response,
                         {}},
                    Case{"wrong status word",
                         cat({{0xD5, 0x43, 0x00}, kAnswer, {0x6F, 0x00}}),
                         RwError::malformed_response,
                         {}},
                    Case{"one byte", {0x61}, RwError::malformed_response, {}}),
    case_name);

// ---- Frames behind Direct Transmit ----

class DirectExchange : public testing::TestWithParam<Case> {};

TEST_P(DirectExchange, Answer) {
    expect_transfer(felica::pcsc::direct::parse_exchange_response(GetParam().response), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DirectExchange,
    testing::Values(
        Case{"answer", cat({kAnswer, kSw}), RwError::none, kAnswer},
        Case{"15 blocks", cat({read_answer(15), kSw}), RwError::none, read_answer(15)},
        Case{"no card", {0x63, 0x00}, RwError::timeout, {}},
        Case{"data with 63 00", cat({kAnswer, {0x63, 0x00}}), RwError::malformed_response, {}},
        Case{"wrong status word", {0x6F, 0x00}, RwError::malformed_response, {}},
        Case{"one byte", {0x90}, RwError::malformed_response, {}}),
    case_name);

// ---- Sessions against a scripted channel ----

TEST(DialectSessions, StartTellsRefusalFromFailure) {
    using Status = DialectStart::Status;
    for (const auto kind :
         {felica::pcsc::DialectKind::transparent_session, felica::pcsc::DialectKind::pn532}) {
        SCOPED_TRACE(std::string(felica::pcsc::to_string(kind)));
        ScriptedChannel refusing;
        refusing.replies = {{RwError::none, {0x6A, 0x81}}};
        EXPECT_EQ(felica::pcsc::make_dialect(kind)
                      ->start(refusing, felica::pcsc::DialectChoice::guessed)
                      .status,
                  Status::unsupported);

        ScriptedChannel removed;
        removed.replies = {{RwError::card_removed, {}}};
        const DialectStart failed =
            felica::pcsc::make_dialect(kind)->start(removed, felica::pcsc::DialectChoice::guessed);
        EXPECT_EQ(failed.status, Status::failed);
        EXPECT_EQ(failed.error, RwError::card_removed);
    }
}

TEST(DialectSessions, TransparentSessionGivesTheCardsTimeToTheReader) {
    ScriptedChannel channel;
    const ApduReply ok = {RwError::none, cat({kOk, kSw})};
    channel.replies = {ok, ok, {RwError::none, cat({kOk, {0x97, 0x04}, kAnswer, kSw})}};
    auto dialect = felica::pcsc::make_dialect(felica::pcsc::DialectKind::transparent_session);
    ASSERT_EQ(dialect->start(channel, felica::pcsc::DialectChoice::guessed).status,
              DialectStart::Status::started);
    const Transfer polled = dialect->poll(channel, kFrame, 30ms);
    EXPECT_EQ(polled.response, kAnswer);
    ASSERT_EQ(channel.sent.size(), 3u);
    // The timer object says 30 ms, and the channel waits that long for the card, plus its own.
    EXPECT_THAT(Bytes(channel.sent[2].begin() + 5, channel.sent[2].begin() + 12),
                ElementsAre(0x5F, 0x46, 0x04, 0x30, 0x75, 0x00, 0x00));
    EXPECT_EQ(channel.card_times[2], 30ms);
}

TEST(DialectSessions, Pn532SetsTheRfTimeoutOnlyWhenItChanges) {
    ScriptedChannel channel;
    const ApduReply configured = {RwError::none, {0xD5, 0x33, 0x90, 0x00}};
    const ApduReply answered = {RwError::none, cat({{0xD5, 0x43, 0x00}, kAnswer, kSw})};
    channel.replies = {{RwError::none, {0xD5, 0x03, 0x32, 0x01, 0x06, 0x07, 0x90, 0x00}},
                       configured,
                       configured,
                       answered,  // 20 ms: code 09
                       answered,  // 22 ms: still 09
                       configured,
                       answered};  // 40 ms: code 0A
    auto dialect = felica::pcsc::make_dialect(felica::pcsc::DialectKind::pn532);
    ASSERT_EQ(dialect->start(channel, felica::pcsc::DialectChoice::guessed).status,
              DialectStart::Status::started);
    for (const auto timeout : {20ms, 22ms, 40ms}) {
        EXPECT_EQ(dialect->exchange(channel, kFrame, timeout).response, kAnswer);
    }
    ASSERT_EQ(channel.sent.size(), 7u);
    EXPECT_EQ(channel.sent[2].back(), 0x09);
    EXPECT_EQ(channel.sent[5].back(), 0x0A);
    EXPECT_EQ(channel.sent[4], *felica::pcsc::pn532::communicate_thru_command(kFrame));
}

TEST(DialectSessions, AFrameTooLongForOneApduIsNeverSent) {
    // The PN532 adds two bytes of its own, the transparent session ten: past 255 bytes of
    // command data, Lc could not tell the length.
    for (const auto& [kind, fits] :
         {std::pair{felica::pcsc::DialectKind::direct, 255},
          std::pair{felica::pcsc::DialectKind::pn532, 253},
          std::pair{felica::pcsc::DialectKind::transparent_session, 245}}) {
        SCOPED_TRACE(std::string(felica::pcsc::to_string(kind)));
        ScriptedChannel channel;
        auto dialect = felica::pcsc::make_dialect(kind);
        EXPECT_EQ(dialect->exchange(channel, Bytes(fits + 1, 0x11), 20ms).error,
                  RwError::invalid_argument);
        EXPECT_TRUE(channel.sent.empty());
        channel.replies = {{RwError::none, {0xD5, 0x33, 0x90, 0x00}}};  // the PN532's timeout
        (void)dialect->exchange(channel, Bytes(fits, 0x11), 20ms);
        ASSERT_FALSE(channel.sent.empty());
        EXPECT_EQ(channel.sent.back()[4], 0xFF);  // Lc: all 255 bytes
    }
}

TEST(DialectSessions, Pn532RefusesToPollWithAnythingButAPollingFrame) {
    ScriptedChannel channel;
    auto dialect = felica::pcsc::make_dialect(felica::pcsc::DialectKind::pn532);
    EXPECT_EQ(dialect->poll(channel, read_answer(1), 20ms).error, RwError::invalid_argument);
    EXPECT_TRUE(channel.sent.empty());
}

}  // namespace
