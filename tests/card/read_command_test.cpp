#include "card/read_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "card/messages.h"
#include "fake_library.h"
#include "support/click.h"

namespace {

using card::ClickOutcome;
using card::OutputBox;
using card_test::FakeLibrary;
using card_test::RecordingView;
using card_test::TraceCapture;
using ::testing::ElementsAre;
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
}

// Each call failing in turn: the click's outcome, the calls made (the session ends after a
// failed polling or read, but not after a failed open; a failed close skips the dispose), the
// boxes written, and the trace.
TEST(CommandClick, EachFailingCallEndsTheClickAsItShould) {
    using Calls = std::vector<std::string>;
    const auto session = [](int first_calls, bool reported) {
        Calls calls(kFullSession.begin(), kFullSession.begin() + first_calls);
        if (reported) {
            calls.insert(calls.end(), {"errors", "close", "dispose"});
        }
        return calls;
    };
    using enum ClickOutcome;
    const Calls error_types = {"felica error type: 0", "rw error type: 6"};
    const struct {
        std::string fails;
        ClickOutcome outcome;
        Calls calls;
        std::size_t boxes_written;
        Calls trace;
    } cases[] = {
        // clang-format off
        {"init",      no_reader,  session(1, false), 0, {"Can't initialize library."}},
        {"open",      no_reader,  session(2, false), 0, {"Can't open reader writer."}},
        {"poll",      no_card,    session(3, true),  0, error_types},
        {"read 008B", read_error, session(4, true),  0, error_types},
        {"read 10CB", read_error, session(7, true),  3, error_types},
        {"close",     success,    session(8, false), 4, {"Can't close reader writer."}},
        {"dispose",   success,    session(9, false), 4, {"Can't dispose library."}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fails);
        FakeLibrary library;
        library.initialize_result = c.fails != "init";
        library.open_result = c.fails != "open";
        library.polling_result = c.fails != "poll";
        if (c.fails.starts_with("read")) {
            library.failing_reads = {c.fails == "read 008B" ? 0 : 3};
        }
        library.close_result = c.fails != "close";
        library.dispose_result = c.fails != "dispose";
        library.rw_error_type = 6;
        RecordingView view;
        TraceCapture trace;
        EXPECT_EQ(card::Command_Click(library, view), c.outcome);
        EXPECT_EQ(library.calls, c.calls);
        // The message line is cleared once the reader is open, then set by a failure.
        Calls messages = {std::string(test_support::message_of(c.outcome))};
        if (c.outcome == no_card || c.outcome == read_error) {
            messages.insert(messages.begin(), "");
        }
        EXPECT_EQ(view.messages, messages);
        EXPECT_EQ(view.box_writes.size(), c.boxes_written);
        EXPECT_EQ(trace.lines, c.trace);
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
