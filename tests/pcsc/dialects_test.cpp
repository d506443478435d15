// The three reader dialects: their answers, and their sessions against a scripted channel.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "felica/pcsc/apdu.h"
#include "felica/pcsc/direct_frames.h"
#include "felica/pcsc/pn532_direct.h"
#include "felica/pcsc/transparent_session.h"
#include "scripted_channel.h"

namespace felica::pcsc {
namespace {

using namespace std::chrono_literals;
using test::ScriptedChannel;
using testing::ElementsAre;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// A read answer of `blocks` blocks, as a card sends it (LEN 07 IDm SF1 SF2 n data).
Bytes read_answer(int blocks) {
    Bytes frame(13 + 16 * blocks, 0xA5);
    frame[0] = static_cast<Byte>(frame.size());
    frame[1] = 0x07;
    return frame;
}

const Bytes kFrame = {0x06, 0x00, 0x80, 0x2B, 0x00, 0x00};  // a polling frame
const Bytes kAnswer = {0x04, 0x01, 0xAA, 0xBB};
const Bytes kSw = {0x90, 0x00};
const Bytes kOk = {0xC0, 0x03, 0x00, 0x90, 0x00};  // the transparent session's success
const Bytes kPolled = {0x12, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(Apdu, BerLengthsAndDataObjects) {
    for (const auto& [length, encoded] : std::vector<std::pair<std::size_t, Bytes>>{
             {0x7F, {0x7F}}, {0x80, {0x81, 0x80}}, {0xFF, {0x81, 0xFF}}, {0x100, {0x82, 1, 0}}}) {
        Bytes out;
        append_ber_length(out, length);
        EXPECT_EQ(out, encoded) << length;
    }
    // The objects are views into the data.
    const Bytes data = {0x5F, 0x46, 0x01, 0x07, 0x97, 0x81, 0x02, 0x0A, 0x0B, 0xC0, 0x00};
    const auto objects = parse_data_objects(data);
    ASSERT_TRUE(objects);
    ASSERT_EQ(objects->size(), 3u);
    EXPECT_EQ((*objects)[0].tag, 0x5F46u);
    EXPECT_THAT((*objects)[1].value, ElementsAre(0x0A, 0x0B));
    EXPECT_TRUE((*objects)[2].value.empty());
    // A length past the end, a tag with no length, a cut-off two-byte tag, a 4-byte length.
    for (const Bytes& broken :
         {Bytes{0x97, 0x03, 0x01}, Bytes{0x97}, Bytes{0x5F}, Bytes{0x97, 0x84, 0, 0, 0, 1, 0xAA}}) {
        EXPECT_FALSE(parse_data_objects(broken));
    }
}

// Each dialect's answer gives the card's frame, or the error type that says why there is none.
TEST(DialectAnswers, FrameOrWhyThereIsNone) {
    using Parse = Transfer (*)(ByteView);
    const Parse ts = transparent::parse_exchange_response;
    const Parse control = [](ByteView r) {
        return Transfer{transparent::parse_control_response(r), {}};
    };
    const Parse listed = pn532::parse_list_passive_target_response;
    const Parse thru = pn532::parse_communicate_thru_response;
    const Parse direct = direct::parse_exchange_response;
    const RwError none = RwError::none, timeout = RwError::timeout, io = RwError::io_error,
                  bad = RwError::malformed_response;
    const Bytes target = {0xD5, 0x4B, 0x01, 0x01};
    struct Case {
        const char* name;
        Parse parse;
        Bytes response;
        RwError error;
        Bytes frame = {};  // when no error
    };
    const Case cases[] = {
        {"session: all objects", ts,
         cat({kOk, {0x92, 0x01, 0x00, 0x96, 0x02, 0x00, 0x00, 0x97, 0x04}, kAnswer, kSw}), none,
         kAnswer},
        {"session: two-byte length", ts, cat({kOk, {0x97, 0x81, 0xED}, read_answer(14), kSw}), none,
         read_answer(14)},
        {"session: card silent", ts, {0xC0, 0x03, 0x01, 0x64, 0x01, 0x90, 0x00}, timeout},
        {"session: silent, warning word", ts, {0xC0, 0x03, 0x01, 0x64, 0x01, 0x63, 0x00}, timeout},
        {"session: reader error", ts, {0xC0, 0x03, 0x01, 0x6F, 0x00, 0x90, 0x00}, io},
        {"session: error, foreign word", ts, {0xC0, 0x03, 0x01, 0x64, 0x01, 0x6A, 0x81}, bad},
        {"session: success, wrong word", ts, cat({kOk, {0x97, 0x04}, kAnswer, {0x6F, 0x00}}), bad},
        {"session: status word alone", ts, {0x6A, 0x81}, bad},
        {"session: one byte", ts, {0x90}, bad},
        {"session: no status object", ts, cat({{0x97, 0x04}, kAnswer, kSw}), bad},
        {"session: short status", ts, cat({{0xC0, 0x02, 0x90, 0x00, 0x97, 0x04}, kAnswer, kSw}),
         bad},
        {"session: no response object", ts, cat({kOk, kSw}), bad},
        {"session: response cut short", ts, cat({kOk, {0x97, 0x05}, kAnswer, kSw}), bad},
        {"control: success", control, cat({kOk, kSw}), none},
        {"control: refused", control, {0x6A, 0x81}, bad},
        {"control: success, wrong word", control, cat({kOk, {0x6A, 0x81}}), bad},
        {"control: failure", control, {0xC0, 0x03, 0x01, 0x6A, 0x81, 0x90, 0x00}, io},
        {"listed: found", listed, cat({target, kPolled, kSw}), none, kPolled},
        {"listed: none", listed, {0xD5, 0x4B, 0x00, 0x90, 0x00}, timeout},
        {"listed: cut short", listed, cat({target, Bytes(kPolled.begin(), kPolled.end() - 1), kSw}),
         bad},
        {"listed: bytes after", listed, cat({target, kPolled, {0x00}, kSw}), bad},
        {"listed: target 2", listed, cat({{0xD5, 0x4B, 0x01, 0x02}, kPolled, kSw}), bad},
        {"listed: other command", listed, cat({{0xD5, 0x43, 0x01, 0x01}, kPolled, kSw}), bad},
        {"listed: wrong word", listed, cat({target, kPolled, {0x63, 0x00}}), bad},
        {"listed: empty", listed, kSw, bad},
        {"thru: answer", thru, cat({{0xD5, 0x43, 0x00}, kAnswer, kSw}), none, kAnswer},
        {"thru: timeout", thru, {0xD5, 0x43, 0x01, 0x90, 0x00}, timeout},
        {"thru: timeout, NAD bit", thru, {0xD5, 0x43, 0x41, 0x90, 0x00}, timeout},
        {"thru: CRC error", thru, {0xD5, 0x43, 0x02, 0x90, 0x00}, io},
        {"thru: no status", thru, {0xD5, 0x43, 0x90, 0x00}, bad},
        {"thru: wrong code", thru, cat({{0xD5, 0x41, 0x00}, kAnswer, kSw}), bad},
        {"thru: wrong word", thru, cat({{0xD5, 0x43, 0x00}, kAnswer, {0x6F, 0x00}}), bad},
        {"thru: one byte", thru, {0x61}, bad},
        {"direct: answer", direct, cat({kAnswer, kSw}), none, kAnswer},
        {"direct: 15 blocks", direct, cat({read_answer(15), kSw}), none, read_answer(15)},
        {"direct: no card", direct, {0x63, 0x00}, timeout},
        {"direct: data with 63 00", direct, cat({kAnswer, {0x63, 0x00}}), bad},
        {"direct: wrong word", direct, {0x6F, 0x00}, bad},
        {"direct: one byte", direct, {0x90}, bad},
    };
    for (const Case& c : cases) {
        const Transfer t = c.parse(c.response);
        EXPECT_EQ(t.error, c.error) << c.name << ": " << to_string(t.error);
        EXPECT_EQ(t.response, c.frame) << c.name;
    }
}

TEST(DialectSessions, StartTellsRefusalFromFailure) {
    for (const auto kind : {DialectKind::transparent_session, DialectKind::pn532}) {
        SCOPED_TRACE(std::string(to_string(kind)));
        ScriptedChannel refusing;
        refusing.replies = {{RwError::none, {0x6A, 0x81}}};
        EXPECT_EQ(make_dialect(kind)->start(refusing, DialectChoice::guessed).status,
                  DialectStart::Status::unsupported);
        ScriptedChannel removed;
        removed.replies = {{RwError::card_removed, {}}};
        const DialectStart failed = make_dialect(kind)->start(removed, DialectChoice::guessed);
        EXPECT_EQ(failed.status, DialectStart::Status::failed);
        EXPECT_EQ(failed.error, RwError::card_removed);
    }
}

TEST(DialectSessions, TransparentSessionGivesTheCardsTimeToTheReader) {
    ScriptedChannel channel;
    const ApduReply ok = {RwError::none, cat({kOk, kSw})};
    channel.replies = {ok, ok, {RwError::none, cat({kOk, {0x97, 0x04}, kAnswer, kSw})}};
    auto dialect = make_dialect(DialectKind::transparent_session);
    ASSERT_EQ(dialect->start(channel, DialectChoice::guessed).status,
              DialectStart::Status::started);
    EXPECT_EQ(dialect->poll(channel, kFrame, 30ms).response, kAnswer);
    ASSERT_EQ(channel.sent.size(), 3u);
    // The timer object says 30 ms, and the channel waits that long for the card, plus its own.
    EXPECT_THAT(Bytes(channel.sent[2].begin() + 5, channel.sent[2].begin() + 12),
                ElementsAre(0x5F, 0x46, 0x04, 0x30, 0x75, 0x00, 0x00));
    EXPECT_EQ(channel.card_times[2], 30ms);
}

// The chip's timeout is 100 µs × 2^(code − 1): the smallest code that covers the wait, set only
// when it changes.
TEST(DialectSessions, Pn532SetsTheRfTimeoutOnlyWhenItChanges) {
    EXPECT_EQ(pn532::rf_timeout_code(0us), 0x01);
    EXPECT_EQ(pn532::rf_timeout_code(101us), 0x02);
    EXPECT_EQ(pn532::rf_timeout_code(25600us), 0x09);
    EXPECT_EQ(pn532::rf_timeout_code(1h), 0x10);  // the longest there is, never 00 (no timeout)

    ScriptedChannel channel;
    const ApduReply configured = {RwError::none, {0xD5, 0x33, 0x90, 0x00}};
    const ApduReply answered = {RwError::none, cat({{0xD5, 0x43, 0x00}, kAnswer, kSw})};
    channel.replies = {{RwError::none, {0xD5, 0x03, 0x32, 0x01, 0x06, 0x07, 0x90, 0x00}},
                       configured,
                       configured,
                       answered,
                       answered,
                       configured,
                       answered};
    auto dialect = make_dialect(DialectKind::pn532);
    ASSERT_EQ(dialect->start(channel, DialectChoice::guessed).status,
              DialectStart::Status::started);
    for (const auto timeout : {20ms, 22ms, 40ms}) {  // codes 09, 09, 0A
        EXPECT_EQ(dialect->exchange(channel, kFrame, timeout).response, kAnswer);
    }
    ASSERT_EQ(channel.sent.size(), 7u);
    EXPECT_EQ(channel.sent[2].back(), 0x09);
    EXPECT_EQ(channel.sent[5].back(), 0x0A);
    EXPECT_EQ(channel.sent[4], *pn532::communicate_thru_command(kFrame));
}

TEST(DialectSessions, AFrameThatCannotBeSentIsRefusedUnsent) {
    // The PN532 adds two bytes of its own, the transparent session ten: past 255 bytes of
    // command data, Lc could not tell the length.
    for (const auto& [kind, fits] :
         {std::pair{DialectKind::direct, 255}, std::pair{DialectKind::pn532, 253},
          std::pair{DialectKind::transparent_session, 245}}) {
        SCOPED_TRACE(std::string(to_string(kind)));
        ScriptedChannel channel;
        auto dialect = make_dialect(kind);
        EXPECT_EQ(dialect->exchange(channel, Bytes(fits + 1, 0x11), 20ms).error,
                  RwError::invalid_argument);
        EXPECT_TRUE(channel.sent.empty());
        channel.replies = {{RwError::none, {0xD5, 0x33, 0x90, 0x00}}};  // the PN532's timeout
        (void)dialect->exchange(channel, Bytes(fits, 0x11), 20ms);
        ASSERT_FALSE(channel.sent.empty());
        EXPECT_EQ(channel.sent.back()[4], 0xFF);  // Lc: all 255 bytes
    }
    // The PN532 polls with InListPassiveTarget, which takes a polling frame only.
    ScriptedChannel channel;
    EXPECT_EQ(make_dialect(DialectKind::pn532)->poll(channel, read_answer(1), 20ms).error,
              RwError::invalid_argument);
    EXPECT_TRUE(channel.sent.empty());
}

}  // namespace
}  // namespace felica::pcsc
