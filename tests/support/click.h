// One READ click, as the window makes it, and what it showed.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "card/read_command.h"
#include "card/read_view.h"
#include "felica/reader_library.h"
#include "felica/sim/sim_card.h"

namespace test_support {

class RecordingView final : public card::ReadView {
  public:
    void set_message(std::string_view text) override { message = text; }
    void set_box_text(card::OutputBox box, std::string_view text) override {
        boxes[box] = std::string(text);
    }

    std::string message;
    std::map<card::OutputBox, std::string> boxes;
};

struct Click {
    card::ClickOutcome outcome = card::ClickOutcome::no_reader;
    std::string message;
    std::map<card::OutputBox, std::string> boxes;
    felica::RwError rw = felica::RwError::none;  // the library's error type after the click
    std::chrono::milliseconds took{};
};

// Clicks once on `library` (which keeps its state between clicks, as the window's does).
Click click(felica::ReaderLibrary& library);

// The same click on the simulated reader with `card`: what a real reader's click must show.
Click click_on_simulated_reader(std::shared_ptr<felica::SimulatedCard> card);

// The message line a click with this outcome leaves.
std::string_view message_of(card::ClickOutcome outcome);

// The demo card, misbehaving as `faults` say, for a reader to hold.
std::shared_ptr<felica::SimulatedCard> demo(felica::CardFaults faults = {});

// Every click must end within this, whatever the reader does.
constexpr std::chrono::milliseconds kClickLimit{2000};

// Checks a click's outcome and message, its error type when one is given, and that it ended
// in time.
void expect_click(const Click& click, card::ClickOutcome outcome,
                  std::optional<felica::RwError> rw = std::nullopt);

}  // namespace test_support
