// The READ button: one reader session from initialization to disposal.
#include "card/read_command.h"

#include <array>

#include "card/error_report.h"
#include "card/messages.h"
#include "card/service_dump.h"
#include "card/trace.h"

namespace card {

ClickOutcome Command_Click(felica::Library& library, ReadView& view) {
    if (!library.initialize_library()) {
        TraceLine("Can't initialize library.");
        view.set_message(kMessageNoReader);
        return ClickOutcome::no_reader;
    }
    if (!library.open_reader_writer_auto()) {
        TraceLine("Can't open reader writer.");
        view.set_message(kMessageNoReader);
        return ClickOutcome::no_reader;
    }
    view.set_message("");

    const std::array<felica::Byte, 2> system_code = {0x80, 0x2B};
    std::array<felica::Byte, 8> idm{};
    std::array<felica::Byte, 8> pmm{};
    felica::Byte number_of_cards = 0;

    const felica::PollingRecord polling{.system_code = system_code, .time_slot = 0};
    const felica::CardInformationRecord card_information{.card_idm = idm, .card_pmm = pmm};
    if (!library.polling_and_get_card_information(polling, number_of_cards, card_information)) {
        view.set_message(kMessageNoCard);
        ReportLastError(library);
        return ClickOutcome::no_card;
    }

    for (const PlannedService& row : kServicePlan) {
        const std::array<felica::Byte, 2> service_code_list = {
            static_cast<felica::Byte>(row.service_code & 0xFF),
            static_cast<felica::Byte>(row.service_code >> 8),
        };
        if (!TULMNorv(library, view, idm, service_code_list, row.blocks, box_name(row.box))) {
            // The failed read already ended the session; nothing is left to close.
            return ClickOutcome::read_error;
        }
    }

    // Failures to end the session are only traced: the dump is already on screen.
    if (!library.close_reader_writer()) {
        TraceLine("Can't close reader writer.");
        return ClickOutcome::success;
    }
    if (!library.dispose_library()) {
        TraceLine("Can't dispose library.");
    }
    return ClickOutcome::success;
}

}  // namespace card
