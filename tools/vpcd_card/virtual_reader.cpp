#include "tools/vpcd_card/virtual_reader.h"

#include <array>

#include "tools/vpcd_card/virtual_readers.h"

namespace vpcd_card {
namespace {

struct Model {
    ReaderModel model;
    std::string_view key;
    std::string_view friendly_name;
};

constexpr std::array kModels = {
    Model{ReaderModel::rcs300, "rcs300", "SONY FeliCa RC-S300/P"},
    Model{ReaderModel::acr122u, "acr122u", "ACS ACR122U PICC Interface"},
    Model{ReaderModel::acr1252u, "acr1252u", "ACS ACR1252 Dual Reader [ACR1252 Dual Reader PICC]"},
};

const Model& model_of(ReaderModel model) {
    for (const Model& entry : kModels) {
        if (entry.model == model) {
            return entry;
        }
    }
    return kModels[0];
}

}  // namespace

std::string_view model_key(ReaderModel model) {
    return model_of(model).key;
}

std::optional<ReaderModel> model_by_key(std::string_view key) {
    for (const Model& entry : kModels) {
        if (entry.key == key) {
            return entry.model;
        }
    }
    return std::nullopt;
}

std::string_view friendly_name(ReaderModel model) {
    return model_of(model).friendly_name;
}

Bytes card_atr(ReaderModel model) {
    // 3B 8F 80 01 80 4F 0C A0 00 00 03 06 <standard> <card name> 00 00 00 00 <TCK>: FeliCa is
    // standard 11, card 00 3B for readers with a transparent session; the ACR122U names it
    // F0 11 under standard 03.
    Bytes atr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06};
    if (model == ReaderModel::acr122u) {
        atr.insert(atr.end(), {0x03, 0xF0, 0x11});
    } else {
        atr.insert(atr.end(), {0x11, 0x00, 0x3B});
    }
    atr.insert(atr.end(), {0x00, 0x00, 0x00, 0x00});
    Byte check = 0;  // TCK: every byte from T0 on XORs to 0
    for (std::size_t i = 1; i < atr.size(); ++i) {
        check ^= atr[i];
    }
    atr.push_back(check);
    return atr;
}

std::unique_ptr<VirtualReader> make_virtual_reader(ReaderModel model,
                                                   std::shared_ptr<felica::SimulatedCard> card,
                                                   ReaderOptions options) {
    switch (model) {
        case ReaderModel::rcs300:
            return std::make_unique<TransparentSessionReader>(std::move(card));
        case ReaderModel::acr122u:
            return std::make_unique<Pn532Reader>(std::move(card), options.t0_get_response);
        case ReaderModel::acr1252u:
            return std::make_unique<DirectTransmitReader>(std::move(card));
    }
    return nullptr;
}

}  // namespace vpcd_card
