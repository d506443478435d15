#include "felica/sim/sim_card.h"

#include <algorithm>
#include <utility>

#include "felica/frames.h"

namespace felica {
namespace {

constexpr Byte kPollingAnswer = 0x01;
constexpr Byte kReadAnswer = 0x07;

constexpr std::size_t kPollingRequestLength = 6;  // LEN 00 SChi SClo RC TSN
constexpr std::size_t kIdmOffset = 2;             // LEN code IDm…
constexpr std::size_t kServiceCountOffset = 10;   // LEN 06 IDm nSvc
constexpr int kMaxServicesPerRead = 16;

// SF1 = FF with these SF2 values: the request as a whole is unusable.
constexpr Byte kBadServiceCount = 0xA1;
constexpr Byte kBadBlockCount = 0xA2;
// SF1 points at the element with these SF2 values.
constexpr Byte kServiceNotFound = 0xA6;
constexpr Byte kBadAccessMode = 0xA7;
constexpr Byte kBlockOutOfRange = 0xA8;

// Bytes the first `count` elements of an encoded block list take. Only called on a list
// decode_block_list accepted, so every element is complete.
std::size_t block_list_length(ByteView list, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
        at += (list[at] & 0x80) ? 2 : 3;
    }
    return at;
}

Byte status_flag_1(Sf1Encoding encoding, std::size_t element_index) {
    switch (encoding) {
        case Sf1Encoding::element_index:
            return static_cast<Byte>(element_index);
        case Sf1Encoding::bitmask:
            return element_index <= 8 ? static_cast<Byte>(1u << (element_index - 1)) : 0xFF;
        case Sf1Encoding::ff:
            return 0xFF;
    }
    return 0xFF;
}

Bytes read_answer_header(const Idm& idm, Byte sf1, Byte sf2) {
    // Sized once and filled: MinGW's g++ 12 warns of a bound it cannot see when the IDm is
    // inserted into a growing vector.
    Bytes answer(2 + idm.size() + 2);
    answer[1] = kReadAnswer;
    std::copy(idm.begin(), idm.end(), answer.begin() + 2);
    answer[2 + idm.size()] = sf1;
    answer[3 + idm.size()] = sf2;
    return answer;
}

Bytes error_answer(const Idm& idm, Byte sf1, Byte sf2) {
    Bytes answer = read_answer_header(idm, sf1, sf2);
    answer[0] = static_cast<Byte>(answer.size());
    return answer;
}

Bytes data_answer(const Idm& idm, const std::vector<const Block*>& blocks) {
    Bytes answer = read_answer_header(idm, 0x00, 0x00);
    answer.push_back(static_cast<Byte>(blocks.size()));
    for (const Block* block : blocks) {
        answer.insert(answer.end(), block->begin(), block->end());
    }
    answer[0] = static_cast<Byte>(answer.size());
    return answer;
}

// Breaks a finished read answer the way `garble` says. Error answers (LEN 0C, no block
// count) get the same framing faults as data answers, since a broken link or card does
// not care what it carries; wrong_block_count has no count to alter in them and leaves
// them intact. wrong_block_count on data answers is handled where the blocks are chosen.
void garble_answer(Bytes& answer, Garble garble) {
    switch (garble) {
        case Garble::none:
        case Garble::wrong_block_count:
            break;
        case Garble::truncate:
            answer.pop_back();  // LEN still counts the missing byte
            break;
        case Garble::wrong_length:
            answer[0] = static_cast<Byte>(answer[0] + 1);
            break;
        case Garble::wrong_response_code:
            answer[1] = 0x06;  // the command code echoed instead of command + 1
            break;
        case Garble::wrong_idm:
            answer[kIdmOffset + 7] ^= 0x01;  // last IDm byte, one bit off
            break;
    }
}

}  // namespace

SimulatedCard::SimulatedCard(CardImage image, CardFaults faults)
    : image_(std::move(image)), faults_(faults) {}

bool SimulatedCard::removed() const {
    return removed_;
}

std::optional<Bytes> SimulatedCard::respond(ByteView frame) {
    ++exchanges_;
    if (faults_.silent) {
        return std::nullopt;
    }
    if (removed_ || (faults_.removed_after && answered_ >= *faults_.removed_after)) {
        removed_ = true;
        return std::nullopt;
    }
    if (frame.size() < 2 || frame[0] != frame.size()) {
        return std::nullopt;
    }
    std::optional<Bytes> answer;
    switch (frame[1]) {
        case static_cast<Byte>(CommandCode::polling):
            answer = answer_polling(frame);
            break;
        case static_cast<Byte>(CommandCode::read_without_encryption):
            answer = answer_read(frame);
            break;
        default:
            break;  // commands this card does not know go unanswered
    }
    if (answer) {
        ++answered_;
    }
    return answer;
}

std::optional<Bytes> SimulatedCard::answer_polling(ByteView frame) const {
    if (frame.size() != kPollingRequestLength) {
        return std::nullopt;
    }
    const auto asked = static_cast<std::uint16_t>((frame[2] << 8) | frame[3]);
    if (!system_code_matches(asked, image_.system_code)) {
        return std::nullopt;
    }
    const Byte request = frame[4];
    if (request != static_cast<Byte>(RequestCode::none) &&
        request != static_cast<Byte>(RequestCode::system_code)) {
        return std::nullopt;
    }
    // The card answers in the first time slot whatever TSN offers.
    Bytes answer{0, kPollingAnswer};
    answer.insert(answer.end(), image_.idm.begin(), image_.idm.end());
    answer.insert(answer.end(), image_.pmm.begin(), image_.pmm.end());
    if (request == static_cast<Byte>(RequestCode::system_code)) {
        answer.push_back(static_cast<Byte>(image_.system_code >> 8));
        answer.push_back(static_cast<Byte>(image_.system_code & 0xFF));
    }
    answer[0] = static_cast<Byte>(answer.size());
    return answer;
}

std::optional<Bytes> SimulatedCard::answer_read(ByteView frame) const {
    if (frame.size() <= kServiceCountOffset) {
        return std::nullopt;
    }
    if (!std::equal(image_.idm.begin(), image_.idm.end(), frame.begin() + kIdmOffset)) {
        return std::nullopt;  // addressed to another card
    }
    const Idm& idm = image_.idm;
    auto finish = [this](Bytes answer) {
        garble_answer(answer, faults_.garble);
        return answer;
    };

    const int service_count = frame[kServiceCountOffset];
    if (service_count == 0 || service_count > kMaxServicesPerRead) {
        return finish(error_answer(idm, 0xFF, kBadServiceCount));
    }
    const std::size_t services_at = kServiceCountOffset + 1;
    const std::size_t block_count_at = services_at + 2 * static_cast<std::size_t>(service_count);
    if (frame.size() <= block_count_at) {
        return std::nullopt;
    }
    const int block_count = frame[block_count_at];
    // A limit above 15 would not fit the answer in one frame, so 15 caps it.
    if (block_count == 0 || block_count > std::min(image_.block_limit, kMaxBlocksPerFrame)) {
        return finish(error_answer(idm, 0xFF, kBadBlockCount));
    }
    const ByteView list = frame.subspan(block_count_at + 1);
    const auto elements = decode_block_list(list, static_cast<std::size_t>(block_count));
    if (!elements || block_list_length(list, elements->size()) != list.size()) {
        return std::nullopt;  // the list ends inside an element or bytes follow it
    }

    std::vector<const Block*> blocks;
    blocks.reserve(elements->size());
    for (std::size_t i = 0; i < elements->size(); ++i) {
        const BlockListElement& element = (*elements)[i];
        const Byte sf1 = status_flag_1(faults_.sf1_encoding, i + 1);
        if (element.service_index >= service_count) {
            return finish(error_answer(idm, sf1, kServiceNotFound));
        }
        const std::size_t code_at = services_at + 2 * std::size_t{element.service_index};
        const auto code = static_cast<std::uint16_t>(frame[code_at] | (frame[code_at + 1] << 8));
        const auto service = image_.services.find(code);
        if (service == image_.services.end()) {
            return finish(error_answer(idm, sf1, kServiceNotFound));
        }
        if (element.access_mode != 0) {
            return finish(error_answer(idm, sf1, kBadAccessMode));
        }
        if (element.block_number >= service->second.size()) {
            return finish(error_answer(idm, sf1, kBlockOutOfRange));
        }
        blocks.push_back(&service->second[element.block_number]);
    }
    if (faults_.garble == Garble::wrong_block_count) {
        // One block fewer, with LEN, count and data all agreeing. A one-block read is
        // answered with zero blocks (LEN 0D), which is just as wrong a count.
        blocks.pop_back();
    }
    return finish(data_answer(idm, blocks));
}

}  // namespace felica
