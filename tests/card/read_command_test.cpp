#include "card/read_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "card/messages.h"
#include "fake_library.h"

namespace {

using card::ClickOutcome;
using card::OutputBox;
using card_test::FakeLibrary;
using card_test::RecordingView;
using card_test::TraceCapture;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::vector<std::string> kFullSession = {
    "init", "open", "poll", "read 008B", "read 090F", "read 108F", "read 10CB", "close", "dispose"};

// The four boxes as a click with the fake card of `seed` fills them.
std::map<OutputBox, std::string> filled_boxes(int seed) {
    std::map<OutputBox, std::string> boxes;
    for (const auto& row : card::kServicePlan) {
        boxes[row.box] = card_test::expected_dump(row.service_code, row.blocks, seed);
    }
    return boxes;
}

TEST(CommandClick, ReadsAllFourServicesInOneSession) {
    FakeLibrary library;
    library.idm = {0xFE, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    RecordingView view;
    TraceCapture trace;
    EXPECT_EQ(card::Command_Click(library, view), ClickOutcome::success);
    EXPECT_EQ(library.calls, kFullSession);
    EXPECT_THAT(view.messages, ElementsAre(""));
    EXPECT_THAT(view.box_writes, ElementsAre(OutputBox::Text008B, OutputBox::Text090F,
                                             OutputBox::Text108F, OutputBox::Text10CB));
    EXPECT_EQ(view.boxes, filled_boxes(0));
    EXPECT_THAT(trace.lines, IsEmpty());

    // The records carry the system code, one slot, the polled IDm and each row of the plan.
    ASSERT_EQ(library.polls.size(), 1u);
    EXPECT_THAT(library.polls[0].system_code, ElementsAre(0x80, 0x2B));
    EXPECT_EQ(library.polls[0].time_slot, 0);
    ASSERT_EQ(library.reads.size(), 4u);
    const std::vector<card_test::Bytes> service_lists = {
        {0x8B, 0x00}, {0x0F, 0x09}, {0x8F, 0x10}, {0xCB, 0x10}};
    const std::vector<int> blocks = {1, 20, 3, 2};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& read = library.reads[i];
        EXPECT_THAT(read.idm, ElementsAreArray(library.idm)) << i;
        EXPECT_EQ(read.service_code_list, service_lists[i]) << i;
        EXPECT_EQ(read.number_of_blocks, blocks[i]) << i;
    }
}

TEST(CommandClick, NoLibraryOrReaderAsksForTheReader) {
    for (const bool initialises : {false, true}) {
        FakeLibrary library;
        library.initialize_result = initialises;
        library.open_result = false;
        RecordingView view;
        TraceCapture trace;
        EXPECT_EQ(card::Command_Click(library, view), ClickOutcome::no_reader);
        // No dispose after a failed open: the library stays as it is.
        const std::vector<std::string> calls = initialises
                                                   ? std::vector<std::string>{"init", "open"}
                                                   : std::vector<std::string>{"init"};
        EXPECT_EQ(library.calls, calls);
        EXPECT_THAT(view.messages, ElementsAre(card::kMessageNoReader));
        EXPECT_THAT(view.box_writes, IsEmpty());
        EXPECT_THAT(trace.lines, ElementsAre(initialises ? "Can't open reader writer."
                                                         : "Can't initialize library."));
    }
}

TEST(CommandClick, FailedPollingAsksForTheCardAndEndsTheSession) {
    FakeLibrary library;
    library.polling_result = false;
    library.rw_error_type = 5;
    RecordingView view;
    TraceCapture trace;
    EXPECT_EQ(card::Command_Click(library, view), ClickOutcome::no_card);
    EXPECT_THAT(library.calls, ElementsAre("init", "open", "poll", "errors", "close", "dispose"));
    EXPECT_THAT(view.messages, ElementsAre("", card::kMessageNoCard));
    EXPECT_THAT(view.box_writes, IsEmpty());
    EXPECT_THAT(trace.lines, ElementsAre("felica error type: 0", "rw error type: 5"));
}

TEST(CommandClick, FailedReadStopsAtItsRowWithoutTouchingTheEndedSession) {
    for (const int failing_row : {0, 1, 3}) {
        SCOPED_TRACE("row " + std::to_string(failing_row));
        FakeLibrary library;
        library.failing_reads = {failing_row};
        library.rw_error_type = 6;
        RecordingView view;
        TraceCapture trace;
        EXPECT_EQ(card::Command_Click(library, view), ClickOutcome::read_error);
        // Everything up to the failed read, then the error report; nothing after it.
        std::vector<std::string> expected(kFullSession.begin(),
                                          kFullSession.begin() + 4 + failing_row);
        expected.insert(expected.end(), {"errors", "close", "dispose"});
        EXPECT_EQ(library.calls, expected);
        EXPECT_THAT(view.messages, ElementsAre("", card::kMessageReadError));
        EXPECT_EQ(view.box_writes.size(), static_cast<std::size_t>(failing_row));
        EXPECT_THAT(trace.lines, ElementsAre("felica error type: 0", "rw error type: 6"));
    }
}

TEST(CommandClick, FailedCloseOrDisposeIsOnlyTraced) {
    for (const bool close_fails : {true, false}) {
        FakeLibrary library;
        library.close_result = !close_fails;
        library.dispose_result = close_fails;
        RecordingView view;
        TraceCapture trace;
        EXPECT_EQ(card::Command_Click(library, view), ClickOutcome::success);
        // A failed close skips the dispose.
        EXPECT_EQ(library.calls,
                  std::vector<std::string>(kFullSession.begin(), kFullSession.end() - close_fails));
        EXPECT_EQ(view.boxes, filled_boxes(0));
        EXPECT_THAT(view.messages, ElementsAre(""));
        EXPECT_THAT(trace.lines, ElementsAre(close_fails ? "Can't close reader writer."
                                                         : "Can't dispose library."));
    }
}

TEST(CommandClick, NextClickOverwritesOnlyTheBoxesItReads) {
    FakeLibrary library;
    RecordingView view;
    card::Command_Click(library, view);
    library.seed = 1;
    EXPECT_EQ(card::Command_Click(library, view), ClickOutcome::success);
    EXPECT_EQ(view.boxes, filled_boxes(1));

    // A click whose second read fails renews only the first box.
    library.seed = 2;
    library.failing_reads = {static_cast<int>(library.reads.size()) + 1};
    EXPECT_EQ(card::Command_Click(library, view), ClickOutcome::read_error);
    auto expected = filled_boxes(1);
    expected[OutputBox::Text008B] = filled_boxes(2)[OutputBox::Text008B];
    EXPECT_EQ(view.boxes, expected);

    // The reader gone: the message says so and the boxes stay.
    library.initialize_result = false;
    EXPECT_EQ(card::Command_Click(library, view), ClickOutcome::no_reader);
    EXPECT_EQ(view.messages.back(), card::kMessageNoReader);
    EXPECT_EQ(view.boxes, expected);
}

}  // namespace
