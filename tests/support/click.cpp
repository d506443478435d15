#include "support/click.h"

#include <gtest/gtest.h>

#include "card/messages.h"
#include "felica/sim/sim_reader.h"

namespace test_support {

Click click(felica::ReaderLibrary& library) {
    RecordingView view;
    const auto start = std::chrono::steady_clock::now();
    Click result;
    result.outcome = card::Command_Click(library, view);
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    result.message = view.message;
    result.boxes = view.boxes;
    std::int32_t felica_error = 0;
    std::int32_t rw_error = 0;
    // Answers after the session ended too (then returning false): the values stay.
    (void)library.get_last_error_types(felica_error, rw_error);
    result.rw = static_cast<felica::RwError>(rw_error);
    return result;
}

Click click_on_simulated_reader(std::shared_ptr<felica::SimulatedCard> card) {
    felica::ReaderLibrary library([card](const felica::Deadline&) {
        return felica::OpenedReader{std::make_unique<felica::SimReader>(card), {}, {}};
    });
    return click(library);
}

std::string_view message_of(card::ClickOutcome outcome) {
    switch (outcome) {
        case card::ClickOutcome::success:
            return "";
        case card::ClickOutcome::no_reader:
            return card::kMessageNoReader;
        case card::ClickOutcome::no_card:
            return card::kMessageNoCard;
        case card::ClickOutcome::read_error:
            return card::kMessageReadError;
    }
    return "?";
}

std::shared_ptr<felica::SimulatedCard> demo(felica::CardFaults faults) {
    return std::make_shared<felica::SimulatedCard>(felica::demo_card(), faults);
}

void expect_click(const Click& click, card::ClickOutcome outcome,
                  std::optional<felica::RwError> rw) {
    EXPECT_EQ(click.outcome, outcome) << click.message;
    EXPECT_EQ(click.message, message_of(outcome));
    if (rw) {
        EXPECT_EQ(click.rw, *rw) << felica::to_string(click.rw);
    }
    EXPECT_LT(click.took, kClickLimit) << click.took.count() << " ms";
}

}  // namespace test_support
