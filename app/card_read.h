// One read of the card as virude-dump makes it: one click of READ through a library of its own,
// with what the click learnt of the card and the reader noted on the way (the card's IDm and
// PMm, each service's blocks, the service whose read failed, the reader's name).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "card/read_command.h"
#include "card/read_view.h"
#include "felica/reader_library.h"
#include "felica/sim/sim_card.h"

namespace dump_cli {

// Keeps what the read command shows, as the window would.
class RecordingView final : public card::ReadView {
  public:
    void set_message(std::string_view text) override;
    void set_box_text(card::OutputBox box, std::string_view text) override;

    const std::string& message() const { return message_; }
    // The box's text, if this run wrote it.
    std::optional<std::string> box_text(card::OutputBox box) const;

  private:
    std::string message_;
    std::map<card::OutputBox, std::string> boxes_;
};

struct CardRead {
    card::ClickOutcome outcome = card::ClickOutcome::no_reader;
    RecordingView view;
    bool polled = false;     // a card answered polling: `card` holds its identity
    felica::CardImage card;  // its IDm, PMm, system code and the services read
    std::optional<std::uint16_t> failed_service;  // the service whose read failed
    std::int32_t felica_error = 0;                // the library's error types after the click
    std::int32_t rw_error = 0;
    std::string reader;        // the name of the reader opened, printable; empty when none
    std::string open_failure;  // why no reader could be opened, printable
};

// Reads the card once on the reader `opener` opens. The library's diagnostic lines go to
// `diagnostics`.
CardRead read_card(const felica::ReaderOpener& opener, const felica::DiagnosticSink& diagnostics);

// Polls once, in a reader session of its own, reading nothing: whether a card of the system is
// on the reader, and which. Only `outcome` (no_card or success), `polled`, `card`'s IDm and
// PMm, the error types, `reader` and `open_failure` are filled.
CardRead look_for_card(const felica::ReaderOpener& opener,
                       const felica::DiagnosticSink& diagnostics);

}  // namespace dump_cli
