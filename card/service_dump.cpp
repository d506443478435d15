// Reading one service's blocks into a box as a hex dump.
#include "card/service_dump.h"

#include <algorithm>
#include <array>

#include "card/error_report.h"
#include "card/messages.h"
#include "card/trace.h"

namespace card {

namespace {

constexpr std::size_t kBlockSize = felica::kBlockSize;
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

// The block list for blocks 0 … kMaxDumpBlocks − 1 of the first service: two-byte elements
// (80 = two-byte form, service 0), whatever number of them a read asks for.
constexpr std::array<felica::Byte, 2 * kMaxDumpBlocks> make_block_list() {
    std::array<felica::Byte, 2 * kMaxDumpBlocks> list{};
    for (int k = 0; k < kMaxDumpBlocks; ++k) {
        list[2 * k] = 0x80;
        list[2 * k + 1] = static_cast<felica::Byte>(k);
    }
    return list;
}

}  // namespace

std::string render_dump(std::span<const std::uint8_t> block_data, int blocks) {
    // Never read past the data, even if a caller asks for more blocks than it holds.
    const auto available = static_cast<int>(block_data.size() / kBlockSize);
    const int lines = std::clamp(blocks, 0, available);

    std::string text;
    text.reserve(static_cast<std::size_t>(lines) * (6 + 2 * kBlockSize));
    for (int j = 0; j < lines; ++j) {
        if (j > 0) {
            text += "\r\n";
        }
        text += ' ';
        text += std::to_string(j);
        text += ":\t";
        for (std::uint8_t byte : block_data.subspan(j * kBlockSize, kBlockSize)) {
            text += kHexDigits[byte >> 4];
            text += kHexDigits[byte & 0x0F];
        }
    }
    return text;
}

bool TULMNorv(felica::Library& library, ReadView& view, std::span<const std::uint8_t> bytCardIdm,
              std::span<const std::uint8_t> bytServiceCodeList, std::int16_t intBlocknumber,
              std::string_view strTarget) {
    // Arguments the read could not use are refused before the library sees them; the
    // session is untouched, so the caller may go on.
    if (intBlocknumber < 1 || intBlocknumber > kMaxDumpBlocks) {
        TraceLine("Block number out of range: ", intBlocknumber);
        return true;
    }
    if (bytCardIdm.size() != 8) {
        TraceLine("Card IDm must be 8 bytes, got: ", static_cast<std::int32_t>(bytCardIdm.size()));
        return true;
    }
    if (bytServiceCodeList.size() < 2) {
        TraceLine("Service code list too short: ",
                  static_cast<std::int32_t>(bytServiceCodeList.size()));
        return true;
    }

    static constexpr auto kBlockList = make_block_list();
    std::array<felica::Byte, kMaxDumpBlocks * kBlockSize> block_data{};
    felica::Byte status_flag_1 = 0;
    felica::Byte status_flag_2 = 0;
    felica::Byte result_blocks = 0;

    const felica::ReadRequestRecord request{
        .card_idm = bytCardIdm,
        .number_of_services = 1,
        .service_code_list = bytServiceCodeList.first(2),
        .number_of_blocks = static_cast<felica::Byte>(intBlocknumber),
        .block_list = kBlockList,
    };
    const felica::ReadResultRecord result{
        .status_flag_1 = std::span<felica::Byte, 1>(&status_flag_1, 1),
        .status_flag_2 = std::span<felica::Byte, 1>(&status_flag_2, 1),
        .result_number_of_blocks = std::span<felica::Byte, 1>(&result_blocks, 1),
        .block_data = block_data,
    };

    if (!library.read_block_without_encryption(request, result)) {
        view.set_message(kMessageReadError);
        ReportLastError(library);
        return false;
    }

    const std::string text = render_dump(block_data, intBlocknumber);
    if (const auto box = box_by_name(strTarget)) {
        view.set_box_text(*box, text);
    }
    return true;
}

}  // namespace card
