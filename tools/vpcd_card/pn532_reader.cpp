#include <algorithm>

#include "tools/vpcd_card/virtual_readers.h"

namespace vpcd_card {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kChipFrameRoom = 255;
// One try at activating a card in the field, when none answers.
constexpr std::chrono::microseconds kActivationTry = 5ms;
constexpr std::chrono::microseconds kLongestWait = 5s;

// InCommunicateThru's timeout for RFConfiguration's code: 100 µs × 2^(code − 1); 0 waits for
// ever, which the reader here cuts short.
std::chrono::microseconds rf_timeout(Byte code) {
    if (code == 0 || code > 16) {
        return kLongestWait;
    }
    return std::chrono::microseconds{100} * (1 << (code - 1));
}

}  // namespace

ReaderReply Pn532Reader::respond(ByteView command) {
    // GET RESPONSE: FF C0 00 00 xx hands over the announced answer.
    if (command.size() == 5 && command[0] == 0xFF && command[1] == 0xC0 && command[2] == 0x00 &&
        command[3] == 0x00) {
        if (pending_.empty()) {
            return {{0x6A, 0x82}, {}};
        }
        Bytes response = std::move(pending_);
        pending_.clear();
        response.insert(response.end(), {0x90, 0x00});
        return {std::move(response), {}};
    }
    // Direct Transmit: FF 00 00 00 Lc D4 …
    if (command.size() < 7 || command[0] != 0xFF || command[1] != 0x00 || command[2] != 0x00 ||
        command[3] != 0x00 || command[4] != command.size() - 5 || command[5] != 0xD4) {
        return refuse();
    }
    return chip(command.subspan(5));
}

ReaderReply Pn532Reader::chip(ByteView command) {
    const Byte code = command[1];
    const ByteView parameters = command.subspan(2);
    switch (code) {
        case 0x02:  // GetFirmwareVersion: PN532, version 1.6, every card type
            return answer({0xD5, 0x03, 0x32, 0x01, 0x06, 0x07});
        case 0x32:  // RFConfiguration
            if (parameters.size() == 4 && parameters[0] == 0x02) {
                rf_timeout_code_ = parameters[3];
            }
            return answer({0xD5, 0x33});
        case 0x4A: {  // InListPassiveTarget, one FeliCa card at 212 kbit/s
            if (parameters.size() != 7 || parameters[0] != 0x01 || parameters[1] != 0x01) {
                return answer({0xD5, 0x4B, 0x00}, kActivationTry);
            }
            Bytes polling = {0x06};
            polling.insert(polling.end(), parameters.begin() + 2, parameters.end());
            const std::optional<Bytes> card = ask_card(polling);
            if (!card) {
                return answer({0xD5, 0x4B, 0x00}, kActivationTry);
            }
            Bytes data = {0xD5, 0x4B, 0x01, 0x01};
            data.insert(data.end(), card->begin(), card->end());
            return answer(std::move(data));
        }
        case 0x42: {  // InCommunicateThru
            const std::optional<Bytes> card = ask_card(parameters);
            if (!card) {
                return answer({0xD5, 0x43, 0x01},
                              std::min(rf_timeout(rf_timeout_code_), kLongestWait));
            }
            if (3 + card->size() > kChipFrameRoom) {
                return answer({0xD5, 0x43, 0x07});  // buffer size insufficient
            }
            Bytes data = {0xD5, 0x43, 0x00};
            data.insert(data.end(), card->begin(), card->end());
            return answer(std::move(data));
        }
        default:
            return refuse();
    }
}

ReaderReply Pn532Reader::answer(Bytes data, std::chrono::microseconds wait) {
    if (t0_get_response_) {
        const auto available = static_cast<Byte>(data.size() & 0xFF);  // 256 shows as 00
        pending_ = std::move(data);
        return {{0x61, available}, wait};
    }
    data.insert(data.end(), {0x90, 0x00});
    return {std::move(data), wait};
}

}  // namespace vpcd_card
