#include "tools/vpcd_card/virtual_readers.h"

namespace vpcd_card {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::microseconds kReaderTimeout = 100ms;

}  // namespace

ReaderReply DirectTransmitReader::respond(ByteView command) {
    if (command.size() < 6 || command[0] != 0xFF || command[1] != 0x00 || command[2] != 0x00 ||
        command[3] != 0x00 || command[4] != command.size() - 5) {
        return refuse();
    }
    const std::optional<Bytes> card = ask_card(command.subspan(5));
    if (!card) {
        return {{0x63, 0x00}, kReaderTimeout};
    }
    Bytes response = *card;
    response.insert(response.end(), {0x90, 0x00});
    return {std::move(response), {}};
}

}  // namespace vpcd_card
