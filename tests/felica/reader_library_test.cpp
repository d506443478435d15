#include "felica/reader_library.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <thread>

#include "felica/sim/sim_card.h"
#include "felica/timeouts.h"

namespace felica {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

const Idm kIdm = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
const Pmm kPmm = {0x00, 0xF1, 0x00, 0x00, 0x00, 0x4B, 0x43, 0x00};

// What a test sees of the reader: every frame sent and its timeout.
struct ReaderLog {
    std::vector<Bytes> frames;
    std::vector<std::chrono::microseconds> timeouts;
    bool closed = false;
    std::string detail;  // what the reader says of a failed transfer
    // How long the reader takes to answer; a longer wait than the timeout is a silent card.
    std::chrono::microseconds answer_time{};
    std::chrono::microseconds overhead{};
};

// A reader that hands each frame to a simulated card, or answers from a script when one is
// queued (for answers no well-behaved card would give).
class RecordingReader final : public ReaderBackend {
  public:
    RecordingReader(std::shared_ptr<SimulatedCard> card, std::shared_ptr<ReaderLog> log,
                    std::shared_ptr<std::deque<Transfer>> script, int limit)
        : card_(std::move(card)), log_(std::move(log)), script_(std::move(script)), limit_(limit) {}

    std::string name() const override { return "recording reader"; }
    int max_blocks_per_read() const override { return limit_; }
    std::chrono::microseconds overhead() const override { return log_->overhead; }
    Transfer poll(ByteView frame, std::chrono::microseconds timeout) override {
        return exchange(frame, timeout);
    }
    Transfer exchange(ByteView frame, std::chrono::microseconds timeout) override {
        log_->frames.emplace_back(frame.begin(), frame.end());
        log_->timeouts.push_back(timeout);
        if (log_->answer_time > std::chrono::microseconds::zero()) {
            std::this_thread::sleep_for(std::min(log_->answer_time, timeout));
            if (log_->answer_time > timeout) {
                return {RwError::timeout, {}};
            }
        }
        if (!script_->empty()) {
            Transfer next = script_->front();
            script_->pop_front();
            return next;
        }
        auto answer = card_->respond(frame);
        if (!answer) {
            return {card_->removed() ? RwError::card_removed : RwError::timeout, {}};
        }
        return {RwError::none, *answer};
    }
    void close() override { log_->closed = true; }
    std::string failure_detail() const override { return log_->detail; }

  private:
    std::shared_ptr<SimulatedCard> card_;
    std::shared_ptr<ReaderLog> log_;
    std::shared_ptr<std::deque<Transfer>> script_;
    int limit_;
};

CardImage test_card(int block_limit) {
    CardImage image;
    image.idm = kIdm;
    image.pmm = kPmm;
    image.block_limit = block_limit;
    const std::pair<std::uint16_t, int> services[] = {
        {0x008B, 1}, {0x090F, 20}, {0x108F, 3}, {0x10CB, 2}};
    for (auto [code, count] : services) {
        for (int b = 0; b < count; ++b) {
            Block block{};
            for (int i = 0; i < 16; ++i) {
                block[i] = static_cast<Byte>((code >> 4) + b * 16 + i);
            }
            image.services[code].push_back(block);
        }
    }
    return image;
}

// One session of the library against one card, with the records the read command uses.
struct Session {
    explicit Session(int card_limit, int reader_limit = kMaxBlocksPerFrame,
                     std::chrono::microseconds budget = kClickBudget)
        : card(std::make_shared<SimulatedCard>(test_card(card_limit))),
          log(std::make_shared<ReaderLog>()),
          script(std::make_shared<std::deque<Transfer>>()),
          library(
              [this, reader_limit](const Deadline&) {
                  return OpenedReader{
                      std::make_unique<RecordingReader>(card, log, script, reader_limit),
                      RwError::none,
                      {}};
              },
              [this](std::string_view line) { diagnostics.emplace_back(line); }, budget) {}

    bool open_and_poll() {
        const Byte system_code[2] = {0x80, 0x2B};
        Byte cards = 0;
        return library.initialize_library() && library.open_reader_writer_auto() &&
               library.polling_and_get_card_information({system_code, 0}, cards, {idm, pmm});
    }

    // Reads blocks 0 … count − 1 of one service; on success `data` holds them.
    bool read(std::uint16_t service, int count) {
        Byte list[40];
        for (int k = 0; k < 20; ++k) {
            list[2 * k] = 0x80;
            list[2 * k + 1] = static_cast<Byte>(k);
        }
        const Byte services[2] = {static_cast<Byte>(service & 0xFF),
                                  static_cast<Byte>(service >> 8)};
        data.assign(320, 0);
        return library.read_block_without_encryption(
            {idm, 1, services, static_cast<Byte>(count), list},
            {std::span<Byte, 1>(&sf1, 1), std::span<Byte, 1>(&sf2, 1),
             std::span<Byte, 1>(&result_count, 1), data});
    }

    bool read_plan() {
        return read(0x008B, 1) && read(0x090F, 20) && read(0x108F, 3) && read(0x10CB, 2);
    }

    std::pair<std::int32_t, std::int32_t> errors() {
        std::int32_t felica = -1;
        std::int32_t rw = -1;
        library.get_last_error_types(felica, rw);
        return {felica, rw};
    }

    std::shared_ptr<SimulatedCard> card;
    std::shared_ptr<ReaderLog> log;
    std::shared_ptr<std::deque<Transfer>> script;
    std::vector<std::string> diagnostics;
    ReaderLibrary library;
    Byte idm[8] = {};
    Byte pmm[8] = {};
    Byte sf1 = 0xEE, sf2 = 0xEE, result_count = 0xEE;
    Bytes data;
};

Bytes frame(std::initializer_list<Byte> head, int blocks_from, int blocks) {
    Bytes out(head);
    for (int k = blocks_from; k < blocks_from + blocks; ++k) {
        out.push_back(0x80);
        out.push_back(static_cast<Byte>(k));
    }
    return out;
}

TEST(ReaderLibrary, ReadsThePlanInSixExchangesWithExactFrames) {
    Session s(15);
    ASSERT_TRUE(s.open_and_poll());
    EXPECT_THAT(s.idm, ElementsAreArray(kIdm));
    EXPECT_THAT(s.pmm, ElementsAreArray(kPmm));
    ASSERT_TRUE(s.read_plan());

#define IDM 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08
    const std::vector<Bytes> expected = {
        {0x06, 0x00, 0x80, 0x2B, 0x00, 0x00},
        frame({0x10, 0x06, IDM, 0x01, 0x8B, 0x00, 0x01}, 0, 1),
        frame({0x2C, 0x06, IDM, 0x01, 0x0F, 0x09, 0x0F}, 0, 15),
        frame({0x18, 0x06, IDM, 0x01, 0x0F, 0x09, 0x05}, 15, 5),
        frame({0x14, 0x06, IDM, 0x01, 0x8F, 0x10, 0x03}, 0, 3),
        frame({0x12, 0x06, IDM, 0x01, 0xCB, 0x10, 0x02}, 0, 2),
    };
#undef IDM
    EXPECT_EQ(s.log->frames, expected);
    // The last read was 0x10CB: its two blocks, then untouched zeros.
    EXPECT_EQ(s.data[0], 0x0C);
    EXPECT_EQ(s.data[16], 0x1C);
    EXPECT_EQ(s.data[32], 0);
    EXPECT_EQ(s.result_count, 2);
    // Each wait is the card's own time for the command (PMm), within the bounds.
    EXPECT_EQ(s.log->timeouts[0], kMinCommandTimeout);                // polling: 3.6 ms
    EXPECT_EQ(s.log->timeouts[2], std::chrono::microseconds{41086});  // 15 blocks
}

TEST(ReaderLibrary, HalvesTheChunkOnBlocksOutOfRangeAndKeepsIt) {
    struct Case {
        int card_limit;
        int reader_limit;
        std::size_t exchanges;
        int kept;
    };
    // 8: 090F asks 15 (A2), then 8 + 8 + 4.  1: 090F asks 15, 8, 4, 2 (A2 each), then 20 × 1,
    // and 108F, 10CB one block at a time.  A reader of 14 starts at 14: 14 + 6.
    for (const Case c : {Case{8, 15, 8, 8}, Case{1, 15, 31, 1}, Case{15, 14, 6, 14}}) {
        SCOPED_TRACE("card limit " + std::to_string(c.card_limit));
        Session s(c.card_limit, c.reader_limit);
        ASSERT_TRUE(s.open_and_poll());
        ASSERT_TRUE(s.read_plan());
        EXPECT_EQ(s.log->frames.size(), c.exchanges);
        EXPECT_EQ(s.library.blocks_per_read(), c.kept);
        // The chunks come back joined in block order.
        ASSERT_TRUE(s.read(0x090F, 20));
        for (int b = 0; b < 20; ++b) {
            EXPECT_EQ(s.data[16 * b], static_cast<Byte>(0x90 + 16 * b)) << "block " << b;
        }
    }
}

TEST(ReaderLibrary, ASlowReaderRunsOutOfTheClicksBudgetWithTheReaderTimeout) {
    using namespace std::chrono_literals;
    Session s(15, kMaxBlocksPerFrame, 150ms);
    s.log->overhead = 200ms;
    s.log->answer_time = 60ms;  // within each command's own wait, but three use up the budget
    const auto start = Deadline::Clock::now();
    ASSERT_TRUE(s.open_and_poll());
    EXPECT_FALSE(s.read_plan());
    EXPECT_LT(Deadline::Clock::now() - start, 300ms);
    EXPECT_EQ(s.errors().second, static_cast<std::int32_t>(RwError::reader_timeout));
    // The last command's wait was cut to what was left of the budget.
    EXPECT_LT(s.log->timeouts.back(), 100ms);
    EXPECT_THAT(s.diagnostics, Contains(HasSubstr("the click ran out of time")));

    // No command is sent once the budget is spent; the next click has a budget of its own.
    const std::size_t sent = s.log->frames.size();
    EXPECT_FALSE(s.read(0x108F, 3));
    EXPECT_EQ(s.log->frames.size(), sent);
    s.log->answer_time = {};
    ASSERT_TRUE(s.library.close_reader_writer() && s.library.dispose_library());
    ASSERT_TRUE(s.open_and_poll());
    EXPECT_TRUE(s.read_plan());
}

TEST(ReaderLibrary, FailedReadsTellWhyAndWriteNoData) {
    // Each kind of refused answer has its own error type (the codec's tests cover them all);
    // whatever the kind, nothing is written.
    Bytes refused = {0x0C, 0x07, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFF, 0xA1};
    const std::pair<Transfer, RwError> cases[] = {
        {{RwError::none, {0x02, 0x07}}, RwError::frame_too_short},
        {{RwError::none, refused}, RwError::status_error},
        {{RwError::card_removed, {}}, RwError::card_removed},
    };
    for (const auto& [transfer, error] : cases) {
        SCOPED_TRACE(to_string(error));
        Session s(15);
        ASSERT_TRUE(s.open_and_poll());
        s.log->detail = "SCardTransmit: SCARD_W_REMOVED_CARD";
        s.script->push_back(transfer);  // the answer to the 3-block read
        EXPECT_FALSE(s.read(0x108F, 3));
        EXPECT_EQ(s.errors().second, static_cast<std::int32_t>(error));
        EXPECT_EQ(s.errors().first, error == RwError::status_error ? 0xFFA1 : 0);
        EXPECT_EQ(s.data, Bytes(320, 0));
        // The reader's own word on a failed transfer goes into the diagnostic line.
        if (error == RwError::card_removed) {
            EXPECT_THAT(
                s.diagnostics,
                Contains("Read failed: card removed (SCardTransmit: SCARD_W_REMOVED_CARD)"));
        }
    }
    // The card's own refusal: its status flags reach the caller.
    Session s(15);
    ASSERT_TRUE(s.open_and_poll());
    EXPECT_FALSE(s.read(0x108F, 4));  // block 3, the 4th element, is beyond the service
    EXPECT_EQ(s.sf1, 0x04);
    EXPECT_EQ(s.sf2, 0xA8);
}

TEST(ReaderLibrary, RefusesCallsOutsideASessionAndRecordsItCannotUse) {
    Session s(15);
    EXPECT_FALSE(s.library.open_reader_writer_auto());
    EXPECT_EQ(s.errors().second, static_cast<std::int32_t>(RwError::not_initialized));
    ASSERT_TRUE(s.library.initialize_library());
    ASSERT_TRUE(s.library.open_reader_writer_auto());
    EXPECT_FALSE(s.read(0x008B, 1));  // nothing polled yet
    EXPECT_EQ(s.errors().second, static_cast<std::int32_t>(RwError::not_polled));
    ASSERT_TRUE(s.open_and_poll());

    const Byte services[2] = {0x8B, 0x00};
    const Byte list[4] = {0x80, 0x00, 0x80, 0x01};
    Byte small[16] = {};
    Byte cell = 0;
    const std::span<Byte, 1> c(&cell, 1);
    // Two blocks into a one-block buffer; a list shorter than its count; no IDm; two services
    // with one code.
    EXPECT_FALSE(
        s.library.read_block_without_encryption({s.idm, 1, services, 2, list}, {c, c, c, small}));
    EXPECT_FALSE(s.library.read_block_without_encryption({s.idm, 1, services, 3, list},
                                                         {c, c, c, std::span<Byte>(s.data)}));
    EXPECT_FALSE(s.library.read_block_without_encryption(
        {std::span<const Byte>(s.idm, 4), 1, services, 1, list}, {c, c, c, small}));
    EXPECT_FALSE(
        s.library.read_block_without_encryption({s.idm, 2, services, 1, list}, {c, c, c, small}));
    EXPECT_EQ(s.errors().second, static_cast<std::int32_t>(RwError::invalid_argument));
    EXPECT_EQ(s.log->frames.size(), 1u);  // the polling only

    ASSERT_TRUE(s.library.close_reader_writer());
    EXPECT_TRUE(s.log->closed);
    ASSERT_TRUE(s.library.dispose_library());
    // Every call after dispose fails and sends nothing; a new session works again.
    EXPECT_FALSE(s.read(0x008B, 1));
    EXPECT_FALSE(s.library.close_reader_writer());
    EXPECT_FALSE(s.library.dispose_library());
    EXPECT_EQ(s.log->frames.size(), 1u);
    ASSERT_TRUE(s.open_and_poll());
    EXPECT_TRUE(s.read(0x008B, 1));
}

// A failed open leaves the library initialised (the click does not dispose it): each next
// click initialises it again and tries to open anew.
TEST(ReaderLibrary, ReusesAnInitialisedLibraryAfterAFailedOpen) {
    int opens = 0;
    ReaderLibrary library([&opens](const Deadline&) {
        ++opens;
        return OpenedReader{nullptr, RwError::reader_setting, "bad value"};
    });
    for (int click = 0; click < 3; ++click) {
        EXPECT_TRUE(library.initialize_library());
        EXPECT_FALSE(library.open_reader_writer_auto());
    }
    EXPECT_EQ(opens, 3);
    std::int32_t felica = -1, rw = -1;
    EXPECT_TRUE(library.get_last_error_types(felica, rw));
    EXPECT_EQ(rw, static_cast<std::int32_t>(RwError::reader_setting));
}

}  // namespace
}  // namespace felica
