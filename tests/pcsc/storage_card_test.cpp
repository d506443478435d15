// The storage-card dialect (GET DATA, SELECT FILE, READ BINARY) for drivers that pass no raw
// frames.
#include "felica/pcsc/storage_card.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "felica/frames.h"
#include "scripted_channel.h"

namespace felica::pcsc {
namespace {

using namespace std::chrono_literals;
using test::ScriptedChannel;
using testing::ElementsAre;
using testing::HasSubstr;

const Idm kIdm = {0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};
const Bytes kPolling = build_polling(0x802B, RequestCode::none, 0);

ApduReply answer(Bytes data, Bytes sw = {0x90, 0x00}) {
    data.insert(data.end(), sw.begin(), sw.end());
    return {RwError::none, std::move(data)};
}

// A read of `blocks` (block numbers) of service 0x090F, as the library builds it.
Bytes read_frame(std::initializer_list<std::uint16_t> blocks) {
    std::vector<BlockListElement> elements;
    for (const std::uint16_t number : blocks) {
        elements.push_back({0, 0, number});
    }
    const Byte service_code_list[] = {0x0F, 0x09};
    return build_read_without_encryption(kIdm, service_code_list, encode_block_list(elements),
                                         static_cast<Byte>(blocks.size()));
}

// The dialect started on `channel` (GET DATA answered with the IDm).
std::unique_ptr<Dialect> started(ScriptedChannel& channel) {
    channel.replies.push_front(answer(Bytes(kIdm.begin(), kIdm.end())));
    auto dialect = storage::make_dialect();
    EXPECT_EQ(dialect->start(channel, DialectChoice::guessed).status,
              DialectStart::Status::started);
    channel.sent.clear();
    return dialect;
}

TEST(StorageCard, PollingAnswersTheIdmOfGetData) {
    ScriptedChannel channel;
    auto dialect = started(channel);
    channel.replies = {answer(Bytes(kIdm.begin(), kIdm.end()))};
    const Transfer polled = dialect->poll(channel, kPolling, 20ms);
    const PollingParse parsed = parse_polling_response(polled.response, RequestCode::none, 0x802B);
    ASSERT_EQ(parsed.error, FrameError::none);
    EXPECT_EQ(parsed.response.idm, kIdm);
    EXPECT_EQ(parsed.response.pmm, Pmm{});
    EXPECT_THAT(channel.sent, ElementsAre(ElementsAre(0xFF, 0xCA, 0x00, 0x00, 0x00)));

    // Only a polling frame without request data can be answered this way.
    EXPECT_EQ(
        dialect->poll(channel, build_polling(0x802B, RequestCode::system_code, 0), 20ms).error,
        RwError::invalid_argument);
    channel.replies = {answer({0x01, 0x02})};
    EXPECT_EQ(dialect->poll(channel, kPolling, 20ms).error, RwError::malformed_response);
}

TEST(StorageCard, ReadSelectsTheServiceOnceAndReadsEachBlock) {
    ScriptedChannel channel;
    auto dialect = started(channel);
    channel.replies = {answer({}), answer(Bytes(16, 0xA0)), answer(Bytes(16, 0xA1)),
                       answer(Bytes(16, 0xA2))};
    const Transfer first = dialect->exchange(channel, read_frame({0, 1, 2}), 30ms);
    const ReadParse parsed = parse_read_response(first.response, kIdm, 3);
    ASSERT_EQ(parsed.error, FrameError::none);
    Bytes blocks;
    for (const Byte fill : {0xA0, 0xA1, 0xA2}) {
        blocks.insert(blocks.end(), 16, fill);
    }
    EXPECT_EQ(Bytes(parsed.block_data.begin(), parsed.block_data.end()), blocks);
    EXPECT_THAT(channel.sent, ElementsAre(ElementsAre(0xFF, 0xA4, 0x00, 0x01, 0x02, 0x0F, 0x09),
                                          ElementsAre(0xFF, 0xB0, 0x00, 0x00, 0x00),
                                          ElementsAre(0xFF, 0xB0, 0x00, 0x01, 0x00),
                                          ElementsAre(0xFF, 0xB0, 0x00, 0x02, 0x00)));
    EXPECT_EQ(channel.card_times.back(), 30ms);

    // The same service again: no SELECT FILE; a block number past 255 goes into P1.
    channel.sent.clear();
    channel.replies = {answer(Bytes(16, 0xB0))};
    ASSERT_TRUE(dialect->exchange(channel, read_frame({300}), 30ms).ok());
    EXPECT_THAT(channel.sent, ElementsAre(ElementsAre(0xFF, 0xB0, 0x01, 0x2C, 0x00)));
}

TEST(StorageCard, RefusalsBecomeStatusFlagsOrErrorTypes) {
    struct Case {
        const char* name;
        std::deque<ApduReply> replies;  // to SELECT FILE, then READ BINARY
        RwError error;
        Byte sf2;  // when the card's refusal comes back as its status flags
    };
    const Case cases[] = {
        {"unknown service", {answer({}, {0x6A, 0x82})}, RwError::none, 0xA6},
        {"block out of range", {answer({}), answer({}, {0x6B, 0x00})}, RwError::none, 0xA8},
        {"card did not answer", {answer({}), answer({}, {0x63, 0x00})}, RwError::timeout, 0},
        {"reader failure", {answer({}), answer({}, {0x6F, 0x00})}, RwError::io_error, 0},
        {"short block", {answer({}), answer(Bytes(15, 0x00))}, RwError::malformed_response, 0},
        {"no status word", {answer({}), {RwError::none, {0x90}}}, RwError::malformed_response, 0},
        {"card taken away", {answer({}), {RwError::card_removed, {}}}, RwError::card_removed, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedChannel channel;
        auto dialect = started(channel);
        channel.replies = c.replies;
        const Transfer read = dialect->exchange(channel, read_frame({1}), 30ms);
        EXPECT_EQ(read.error, c.error) << to_string(read.error);
        if (c.sf2 != 0) {
            const ReadParse parsed = parse_read_response(read.response, kIdm, 1);
            EXPECT_EQ(parsed.error, FrameError::status_error);
            EXPECT_EQ(parsed.status_flag_1, 0xFF);
            EXPECT_EQ(parsed.status_flag_2, c.sf2);
        }
        if (c.error == RwError::io_error) {  // the trace shows the command and its answer
            EXPECT_THAT(dialect->failure_detail(), HasSubstr("FF B0 00 01 00 answered 6F 00"));
        }
    }
}

}  // namespace
}  // namespace felica::pcsc
