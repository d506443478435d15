#include "card/trace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "card/read_view.h"
#include "fake_library.h"

namespace {

using ::testing::ElementsAre;

TEST(TraceLine, ComposesMessageAndDecimalValue) {
    EXPECT_EQ(card::compose_trace_line("Can't open reader writer.", std::nullopt),
              "Can't open reader writer.");
    EXPECT_EQ(card::compose_trace_line("rw error type: ", 0), "rw error type: 0");
    EXPECT_EQ(card::compose_trace_line("felica error type: ", -1), "felica error type: -1");
}

TEST(TraceLine, GoesToTheInstalledSinkAndIsDroppedWithoutOne) {
    {
        card_test::TraceCapture capture;
        card::TraceLine("rw error type: ", 6);
        card::TraceLine("Can't dispose library.");
        EXPECT_THAT(capture.lines, ElementsAre("rw error type: 6", "Can't dispose library."));
    }
    // The capture put the default (empty) sink back: tracing must not fail.
    const card::TraceSink previous = card::set_trace_sink({});
    EXPECT_FALSE(previous);
    EXPECT_NO_THROW(card::TraceLine("dropped", 1));
}

TEST(OutputBoxes, NamesSelectBoxesExactly) {
    for (card::OutputBox box : card::kOutputBoxes) {
        EXPECT_EQ(card::box_by_name(card::box_name(box)), box);
    }
    EXPECT_EQ(card::box_by_name("Text090F"), card::OutputBox::Text090F);
    for (const char* other : {"text008B", "Text008B ", ""}) {
        EXPECT_EQ(card::box_by_name(other), std::nullopt) << other;
    }
}

}  // namespace
