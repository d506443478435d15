#include "tools/pn532_emulator/pn532_chip.h"

namespace pn532 {
namespace {

// GetFirmwareVersion: IC 0x32 (PN532), version 1.6, supports ISO 14443-A, ISO 14443-B and
// ISO 18092 (bit 0 also stands for FeliCa in libnfc; without it FeliCa is refused).
constexpr Byte kFirmware[] = {0x32, 0x01, 0x06, 0x07};

constexpr Byte kBaudFelica212 = 0x01;             // InListPassiveTarget BrTy
constexpr std::size_t kFelicaPollingPayload = 5;  // 00 SChi SClo RC TSN, without LEN
constexpr Byte kRfItemField = 0x01;               // RFConfiguration CfgItem: RF field on/off
constexpr Byte kTargetNumber = 0x01;              // the one target this chip ever lists

ChipAnswer answer(Command command, ByteView payload = {}) {
    ChipAnswer result;
    result.data = {kChipToHost, static_cast<Byte>(command + 1)};
    result.data.insert(result.data.end(), payload.begin(), payload.end());
    return result;
}

ChipAnswer status_answer(Command command, Byte status, ByteView payload = {}) {
    Bytes body{status};
    body.insert(body.end(), payload.begin(), payload.end());
    return answer(command, body);
}

ChipAnswer syntax_error() {
    return {ChipAnswer::Kind::syntax_error, {}, false};
}

}  // namespace

void Pn532Chip::place_card(std::shared_ptr<felica::SimulatedCard> card) {
    card_ = std::move(card);
    target_selected_ = false;
}

std::optional<Byte> Pn532Chip::register_value(std::uint16_t address) const {
    const auto found = registers_.find(address);
    if (found == registers_.end()) {
        return std::nullopt;
    }
    return found->second;
}

ChipAnswer Pn532Chip::handle(ByteView data) {
    if (data.size() < 2 || data[0] != kHostToChip) {
        return syntax_error();
    }
    const auto command = static_cast<Command>(data[1]);
    const ByteView args = data.subspan(2);
    switch (command) {
        case kDiagnose:
            // Test 00 (communication line test) echoes its data; the others are not
            // emulated.
            if (args.empty() || args[0] != 0x00) {
                return syntax_error();
            }
            return answer(command, args);
        case kGetFirmwareVersion:
            return answer(command, kFirmware);
        case kReadRegister: {
            if (args.empty() || args.size() % 2 != 0) {
                return syntax_error();
            }
            Bytes values;
            for (std::size_t at = 0; at < args.size(); at += 2) {
                const auto address = static_cast<std::uint16_t>((args[at] << 8) | args[at + 1]);
                values.push_back(register_value(address).value_or(0x00));
            }
            return answer(command, values);
        }
        case kWriteRegister:
            if (args.empty() || args.size() % 3 != 0) {
                return syntax_error();
            }
            for (std::size_t at = 0; at < args.size(); at += 3) {
                const auto address = static_cast<std::uint16_t>((args[at] << 8) | args[at + 1]);
                registers_[address] = args[at + 2];
            }
            return answer(command);
        case kSetParameters:
            if (args.size() != 1) {
                return syntax_error();
            }
            return answer(command);
        case kSamConfiguration:
            if (args.empty()) {
                return syntax_error();
            }
            return answer(command);
        case kPowerDown: {
            if (args.empty()) {
                return syntax_error();
            }
            field_on_ = false;
            target_selected_ = false;
            ChipAnswer result = status_answer(command, kStatusOk);
            result.sleeps_after = true;
            return result;
        }
        case kRfConfiguration:
            return rf_configuration(args);
        case kInListPassiveTarget:
            return list_passive_target(args);
        case kInDataExchange:
            return data_exchange(args);
        case kInCommunicateThru:
            // Raw frames at the current settings: no card here answers them.
            return status_answer(command, kStatusTimeout);
        case kInDeselect:
        case kInRelease:
            if (args.size() != 1) {
                return syntax_error();
            }
            target_selected_ = false;
            return status_answer(command, kStatusOk);
    }
    return syntax_error();
}

ChipAnswer Pn532Chip::rf_configuration(ByteView args) {
    if (args.empty()) {
        return syntax_error();
    }
    if (args[0] == kRfItemField) {
        if (args.size() != 2) {
            return syntax_error();
        }
        field_on_ = (args[1] & 0x01) != 0;
        if (!field_on_) {
            target_selected_ = false;  // without the field the card loses power
        }
    }
    // Timings and retry counts only matter to real radio traffic; they are accepted as set.
    return answer(kRfConfiguration);
}

ChipAnswer Pn532Chip::list_passive_target(ByteView args) {
    if (args.size() < 2 || args[0] < 1 || args[0] > 2) {
        return syntax_error();
    }
    target_selected_ = false;
    field_on_ = true;  // the chip switches the field on to poll
    const Byte baud = args[1];
    const ByteView initiator_data = args.subspan(2);
    // The card answers at 212 kbps only; other modulations find nothing.
    if (baud != kBaudFelica212 || initiator_data.size() != kFelicaPollingPayload || !card_) {
        return answer(kInListPassiveTarget, Bytes{0x00});
    }
    felica::Bytes polling{static_cast<Byte>(kFelicaPollingPayload + 1)};
    polling.insert(polling.end(), initiator_data.begin(), initiator_data.end());
    const std::optional<felica::Bytes> response = card_->respond(polling);
    if (!response) {
        return answer(kInListPassiveTarget, Bytes{0x00});
    }
    target_selected_ = true;
    Bytes body{0x01, kTargetNumber};  // NbTg, Tg, then the card's polling answer with its LEN
    body.insert(body.end(), response->begin(), response->end());
    return answer(kInListPassiveTarget, body);
}

ChipAnswer Pn532Chip::data_exchange(ByteView args) {
    if (args.empty()) {
        return syntax_error();
    }
    if (args[0] != kTargetNumber || !target_selected_ || !card_) {
        return status_answer(kInDataExchange, kStatusNotAllowed);
    }
    const std::optional<felica::Bytes> response = card_->respond(args.subspan(1));
    if (!response) {
        return status_answer(kInDataExchange, kStatusTimeout);
    }
    return status_answer(kInDataExchange, kStatusOk, *response);
}

}  // namespace pn532
