// The libnfc backend through its helper process and real libnfc (pn532_uart driver) against
// the emulated PN532.
#include "felica/libnfc/libnfc_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <thread>

#include "card/messages.h"
#include "felica/frames.h"
#include "support/click.h"
#include "tools/pn532_emulator/pn532_emulator.h"

namespace {

using namespace std::chrono_literals;
using card::ClickOutcome;
using felica::RwError;
using pn532::Fault;
using pn532::FaultRule;
using test_support::Click;
using test_support::demo;
using ::testing::HasSubstr;

// The emulated PN532 with `card` on it; its faults fire at the command's `occurrence`.
pn532::EmulatorSetup reader_with(std::shared_ptr<felica::SimulatedCard> card,
                                 std::vector<FaultRule> faults = {}) {
    return {std::move(card), false, std::move(faults), {}};
}

pn532::EmulatorSetup faulty(Fault fault, pn532::Byte command = pn532::kInDataExchange,
                            int occurrence = 2) {
    return reader_with(demo(), {FaultRule{fault, command, occurrence}});
}

felica::OpenedReader open_through_helper(const std::string& connstring,
                                         const felica::Deadline& deadline = {}) {
    return felica::open_libnfc_reader(connstring, deadline, VIRUDE_LIBNFC_HELPER_PATH);
}

// A library whose reader is the libnfc device on `emulator`'s line.
felica::ReaderLibrary library_on(const pn532::Emulator& emulator) {
    return felica::ReaderLibrary(
        [connstring = emulator.connstring()](const felica::Deadline& deadline) {
            return open_through_helper(connstring, deadline);
        });
}

TEST(LibnfcReader, ReadsTheCardAsTheSimulatedReaderDoes) {
    pn532::Emulator emulator(reader_with(demo()));
    felica::ReaderLibrary library = library_on(emulator);
    const Click expected = test_support::click_on_simulated_reader(demo());
    ASSERT_EQ(expected.outcome, ClickOutcome::success);

    for (int i = 0; i < 2; ++i) {  // and again: the first session left the chip asleep
        const Click got = test_support::click(library);
        EXPECT_EQ(got.outcome, ClickOutcome::success);
        EXPECT_EQ(got.message, "");
        EXPECT_EQ(got.boxes, expected.boxes);
    }
    // Per click: one polling, then 1 + 15 + 5 + 3 + 2 blocks in five reads of at most 15.
    EXPECT_EQ(emulator.count(pn532::kInListPassiveTarget), 2);
    EXPECT_EQ(emulator.count(pn532::kInDataExchange), 10);
    EXPECT_TRUE(emulator.asleep());  // nfc_close powered the chip down
}

TEST(LibnfcReader, OpenFailuresSayWhy) {
    const felica::OpenedReader missing = open_through_helper("pn532_uart:/nonexistent/tty");
    EXPECT_FALSE(missing.backend);
    EXPECT_EQ(missing.error, RwError::no_reader);
    EXPECT_THAT(missing.reason, HasSubstr("pn532_uart:/nonexistent/tty"));

    EXPECT_EQ(open_through_helper("no_such_driver:x").error, RwError::no_reader);
    EXPECT_EQ(open_through_helper("pn532_uart:/dev/" + std::string(2000, 'x')).error,
              RwError::reader_setting);

    const felica::OpenedReader no_helper =
        felica::open_libnfc_reader("pn532_uart:/dev/null", {}, "/nonexistent/helper");
    EXPECT_EQ(no_helper.error, RwError::no_reader);
    EXPECT_THAT(no_helper.reason, HasSubstr("/nonexistent/helper"));
}

TEST(LibnfcReader, EachFaultEndsTheClickInTimeAndTheNextClickWorks) {
    // A fault, where the click stops, and what undoes its cause for the next click (the card
    // put back, the reader answering again); faults that fire once need nothing.
    struct FaultCase {
        const char* name;
        pn532::EmulatorSetup setup;
        ClickOutcome outcome;
        RwError rw_error;
        std::function<void(pn532::Emulator&)> repair = {};
    };
    const auto put_card_back = [](pn532::Emulator& e) { e.place_card(demo()); };
    felica::CardFaults leaves, garbled;
    leaves.removed_after = 3;
    garbled.garble = felica::Garble::wrong_block_count;
    using enum ClickOutcome;
    const RwError late = RwError::reader_timeout, io = RwError::io_error;
    // clang-format off
    const FaultCase cases[] = {
        // Faults on the second read command (090F's first 15 blocks).
        {"no ACK",              faulty(Fault::no_ack),              read_error, late},
        {"answer dropped",      faulty(Fault::drop_reply),          read_error, late},
        {"answer late",         faulty(Fault::late_reply),          read_error, late},
        {"bad length checksum", faulty(Fault::bad_length_checksum), read_error, io},
        {"bad data checksum",   faulty(Fault::bad_data_checksum),   read_error, io},
        {"error frame",         faulty(Fault::error_frame),         read_error, io},
        {"truncated answer",    faulty(Fault::truncated_reply),     read_error, late},
        {"card leaves at the third command", reader_with(demo(leaves)), read_error,
         RwError::card_removed, put_card_back},
        // libnfc 1.8.0 asks for "more information" for ever, and abort()s on the NAD flag:
        // only the helper hangs or dies.
        {"more information for ever", faulty(Fault::more_information), read_error, late},
        {"NAD flag in the status",    faulty(Fault::nad_status),       read_error, io},
        {"card gives garbled answers", reader_with(demo(garbled)), read_error,
         RwError::wrong_block_count, put_card_back},
        // Faults while polling.
        {"no card", reader_with(nullptr), no_card, RwError::timeout, put_card_back},
        {"polling answer dropped", faulty(Fault::drop_reply, pn532::kInListPassiveTarget, 1),
         no_card, late},
        // Faults while opening.
        {"reader silent", {demo(), true, {}, {}}, no_reader, RwError::no_reader,
         [](pn532::Emulator& e) { e.set_silent(false); }},
        // Each answer inside its own wait, yet the click's time runs out while opening. The
        // user clicks again once the chip is back to speed (its last late answer gone).
        {"every answer 290 ms late", {demo(), false, {}, 290ms}, no_reader, late,
         [](pn532::Emulator& e) { e.set_answer_delay(0ms); std::this_thread::sleep_for(300ms); }},
        {"no ACK to the firmware question", faulty(Fault::no_ack, pn532::kGetFirmwareVersion, 1),
         no_reader, RwError::no_reader},
        {"error frame for the line test", faulty(Fault::error_frame, pn532::kDiagnose, 1),
         no_reader, RwError::no_reader},
    };
    // clang-format on
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        pn532::Emulator emulator(c.setup);
        felica::ReaderLibrary library = library_on(emulator);

        test_support::expect_click(test_support::click(library), c.outcome, c.rw_error);
        if (!c.setup.faults.empty()) {
            EXPECT_EQ(emulator.faults_fired(), 1);
        }

        if (c.repair) {
            c.repair(emulator);
        }
        const Click next = test_support::click(library);
        EXPECT_EQ(next.outcome, ClickOutcome::success) << next.message;
        EXPECT_EQ(next.boxes.size(), 4u);
    }
}

// A shell script in the helper's place, which notes its process id.
class StandInHelper {
  public:
    explicit StandInHelper(const std::string& script)
        : path_(testing::TempDir() + "stand_in_helper_" + std::to_string(getpid())) {
        std::ofstream(path_) << "#!/bin/sh\necho $$ > " << path_ << ".pid\n" << script;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
    }
    ~StandInHelper() {
        std::filesystem::remove(path_);
        std::filesystem::remove(path_ + ".pid");
    }
    const std::string& path() const { return path_; }
    pid_t pid() const {
        pid_t pid = -1;
        std::ifstream(path_ + ".pid") >> pid;
        return pid;
    }

  private:
    std::string path_;
};

TEST(LibnfcReader, HelperThatDiesOrHangsFailsTheClickInTimeAndIsReaped) {
    // The reply to the open request: opened, 15 blocks per read, reader named "fake". It waits
    // for the request first: a stand-in gone before the request is written fails the open.
    const std::string opens = "head -c 1 >/dev/null\nprintf '\\201\\000\\005\\017fake'\n";
    const struct {
        const char* name;
        std::string script;
        ClickOutcome outcome;
        RwError rw_error;
    } cases[] = {
        {"dies at once", "exit 0\n", ClickOutcome::no_reader, RwError::io_error},
        {"never answers", "exec sleep 30\n", ClickOutcome::no_reader, RwError::reader_timeout},
        {"answers garbage", "printf '\\377\\0\\0'\nexec sleep 30\n", ClickOutcome::no_reader,
         RwError::io_error},
        {"dies after opening", opens, ClickOutcome::no_card, RwError::io_error},
        {"hangs after opening", opens + "exec sleep 30\n", ClickOutcome::no_card,
         RwError::reader_timeout},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const StandInHelper helper(c.script);
        felica::ReaderLibrary library([&helper](const felica::Deadline& deadline) {
            return felica::open_libnfc_reader("pn532_uart:/dev/null", deadline, helper.path());
        });
        test_support::expect_click(test_support::click(library), c.outcome, c.rw_error);
        const pid_t pid = helper.pid();
        ASSERT_GT(pid, 0);
        EXPECT_EQ(kill(pid, 0), -1) << "the helper is still there (or a zombie)";
    }
}

TEST(LibnfcReader, LineClosedMidSessionIsAReadErrorAndANewLineWorks) {
    auto emulator = std::make_unique<pn532::Emulator>(faulty(Fault::close_port));
    std::string connstring = emulator->connstring();
    felica::ReaderLibrary library([&connstring](const felica::Deadline& deadline) {
        return open_through_helper(connstring, deadline);
    });

    test_support::expect_click(test_support::click(library), ClickOutcome::read_error,
                               RwError::io_error);
    EXPECT_TRUE(emulator->port_closed());

    const Click gone = test_support::click(library);
    EXPECT_EQ(gone.outcome, ClickOutcome::no_reader);

    emulator = std::make_unique<pn532::Emulator>(reader_with(demo()));
    connstring = emulator->connstring();
    EXPECT_EQ(test_support::click(library).outcome, ClickOutcome::success);
}

// The backend alone: after a failed command nothing more reaches the chip, so a late answer
// cannot be taken for the answer to a later command.
TEST(LibnfcReader, SendsNothingMoreAfterAFailedCommand) {
    pn532::Emulator emulator(faulty(Fault::late_reply, pn532::kInDataExchange, 1));
    felica::OpenedReader opened = open_through_helper(emulator.connstring());
    ASSERT_TRUE(opened.backend) << opened.reason;
    felica::ReaderBackend& reader = *opened.backend;

    const felica::Bytes polling = felica::build_polling(0x802B, felica::RequestCode::none, 0);
    const felica::Transfer polled = reader.poll(polling, 10ms);
    ASSERT_TRUE(polled.ok());
    felica::Idm idm{};
    std::copy_n(polled.response.begin() + 2, idm.size(), idm.begin());
    const felica::Bytes services = {0x8B, 0x00};
    const felica::Bytes blocks = {0x80, 0x00};
    const felica::Bytes read = felica::build_read_without_encryption(idm, services, blocks, 1);

    const felica::Transfer late = reader.exchange(read, 20ms);
    EXPECT_EQ(late.error, RwError::reader_timeout);
    const felica::Transfer refused = reader.exchange(read, 20ms);
    EXPECT_FALSE(refused.ok());
    EXPECT_FALSE(reader.poll(polling, 10ms).ok());
    EXPECT_EQ(emulator.count(pn532::kInDataExchange), 1);
    EXPECT_EQ(emulator.count(pn532::kInListPassiveTarget), 1);
    reader.close();

    // A new session starts clean: the late answer was flushed, not read as this one's.
    felica::ReaderLibrary library = library_on(emulator);
    const Click next = test_support::click(library);
    EXPECT_EQ(next.outcome, ClickOutcome::success);
    EXPECT_EQ(next.boxes, test_support::click_on_simulated_reader(demo()).boxes);
}

TEST(LibnfcReader, WaitsAtLeast300MsWhateverTheCardPromises) {
    // The library asks for the card's 57 ms (7 ms for one block, 50 for the reader); an answer
    // 100 ms late still counts.
    pn532::EmulatorSetup setup = faulty(Fault::late_reply, pn532::kInDataExchange, 1);
    setup.faults[0].delay = 100ms;
    pn532::Emulator emulator(setup);
    felica::ReaderLibrary library = library_on(emulator);
    const Click got = test_support::click(library);
    EXPECT_EQ(got.outcome, ClickOutcome::success) << got.message;
    EXPECT_EQ(emulator.faults_fired(), 1);
}

}  // namespace
