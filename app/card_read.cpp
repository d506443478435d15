#include "app/card_read.h"

#include <algorithm>
#include <array>

#include "felica/printable_text.h"

namespace dump_cli {
namespace {

// Passes every call on to the library and notes what it brings of the card.
class RecordingLibrary final : public felica::Library {
  public:
    RecordingLibrary(felica::Library& inner, CardRead& read) : inner_(inner), read_(read) {}

    bool initialize_library() override { return inner_.initialize_library(); }
    bool open_reader_writer_auto() override { return inner_.open_reader_writer_auto(); }

    bool polling_and_get_card_information(const felica::PollingRecord& polling,
                                          felica::Byte& number_of_cards,
                                          const felica::CardInformationRecord& card) override {
        if (!inner_.polling_and_get_card_information(polling, number_of_cards, card)) {
            return false;
        }
        read_.polled = true;
        std::copy_n(card.card_idm.begin(), read_.card.idm.size(), read_.card.idm.begin());
        std::copy_n(card.card_pmm.begin(), read_.card.pmm.size(), read_.card.pmm.begin());
        read_.card.system_code =
            static_cast<std::uint16_t>((polling.system_code[0] << 8) | polling.system_code[1]);
        return true;
    }

    bool read_block_without_encryption(const felica::ReadRequestRecord& request,
                                       const felica::ReadResultRecord& result) override {
        const auto service = request.service_code_list.size() < 2
                                 ? std::uint16_t{0}
                                 : static_cast<std::uint16_t>(request.service_code_list[0] |
                                                              (request.service_code_list[1] << 8));
        if (!inner_.read_block_without_encryption(request, result)) {
            read_.failed_service = service;
            return false;
        }
        std::vector<felica::Block>& blocks = read_.card.services[service];
        blocks.assign(request.number_of_blocks, felica::Block{});
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            std::copy_n(
                result.block_data.begin() + static_cast<std::ptrdiff_t>(i * felica::kBlockSize),
                felica::kBlockSize, blocks[i].begin());
        }
        return true;
    }

    bool get_last_error_types(std::int32_t& felica_error_type,
                              std::int32_t& rw_error_type) override {
        return inner_.get_last_error_types(felica_error_type, rw_error_type);
    }
    bool close_reader_writer() override { return inner_.close_reader_writer(); }
    bool dispose_library() override { return inner_.dispose_library(); }

  private:
    felica::Library& inner_;
    CardRead& read_;
};

// The opener, noting the name of the reader it opens.
felica::ReaderOpener naming_opener(const felica::ReaderOpener& opener, std::string& name) {
    return [&opener, &name](const felica::Deadline& deadline) {
        felica::OpenedReader opened = opener(deadline);
        if (opened.backend) {
            name = felica::printable_text(opened.backend->name());
        }
        return opened;
    };
}

void note_errors(felica::ReaderLibrary& library, CardRead& read) {
    (void)library.get_last_error_types(read.felica_error, read.rw_error);
    read.open_failure = library.open_failure();
}

}  // namespace

void RecordingView::set_message(std::string_view text) {
    message_ = text;
}

void RecordingView::set_box_text(card::OutputBox box, std::string_view text) {
    boxes_[box] = std::string(text);
}

std::optional<std::string> RecordingView::box_text(card::OutputBox box) const {
    const auto found = boxes_.find(box);
    if (found == boxes_.end()) {
        return std::nullopt;
    }
    return found->second;
}

CardRead read_card(const felica::ReaderOpener& opener, const felica::DiagnosticSink& diagnostics) {
    CardRead read;
    felica::ReaderLibrary library(naming_opener(opener, read.reader), diagnostics);
    RecordingLibrary recording(library, read);
    read.outcome = card::Command_Click(recording, read.view);
    note_errors(library, read);
    return read;
}

CardRead look_for_card(const felica::ReaderOpener& opener,
                       const felica::DiagnosticSink& diagnostics) {
    CardRead read;
    felica::ReaderLibrary library(naming_opener(opener, read.reader), diagnostics);
    if (!library.initialize_library() || !library.open_reader_writer_auto()) {
        read.outcome = card::ClickOutcome::no_reader;
        note_errors(library, read);
        return read;
    }
    const std::array<felica::Byte, 2> system_code = {0x80, 0x2B};
    std::array<felica::Byte, 8> idm{};
    std::array<felica::Byte, 8> pmm{};
    felica::Byte number_of_cards = 0;
    RecordingLibrary recording(library, read);
    const bool found = recording.polling_and_get_card_information(
        {.system_code = system_code, .time_slot = 0}, number_of_cards,
        {.card_idm = idm, .card_pmm = pmm});
    read.outcome = found ? card::ClickOutcome::success : card::ClickOutcome::no_card;
    note_errors(library, read);
    (void)library.close_reader_writer();
    (void)library.dispose_library();
    return read;
}

}  // namespace dump_cli
