#include "support/click.h"

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

}  // namespace test_support
