#include "felica/libnfc/libnfc_frames.h"

namespace felica::libnfc {
namespace {

constexpr std::size_t kPollingFrameLength = 6;  // LEN 00 SChi SClo RC TSN
constexpr Byte kPollingCommand = 0x00;
constexpr std::size_t kPollingAnswerLength = 18;  // LEN 01 IDm PMm
constexpr int kAcr122MaxBlocks = 14;

}  // namespace

std::optional<Bytes> polling_payload(ByteView frame) {
    if (frame.size() != kPollingFrameLength || frame[0] != kPollingFrameLength ||
        frame[1] != kPollingCommand) {
        return std::nullopt;
    }
    return Bytes(frame.begin() + 1, frame.end());
}

Bytes polling_answer(const nfc_felica_info& info) {
    Bytes answer{static_cast<Byte>(info.szLen), info.btResCode};
    answer.insert(answer.end(), std::begin(info.abtId), std::end(info.abtId));
    answer.insert(answer.end(), std::begin(info.abtPad), std::end(info.abtPad));
    // libnfc keeps the system code only when the answer carried one (LEN above 18).
    if (info.szLen > kPollingAnswerLength) {
        answer.insert(answer.end(), std::begin(info.abtSysCode), std::end(info.abtSysCode));
    }
    return answer;
}

int max_blocks_for(std::string_view connstring) {
    const std::string_view driver = connstring.substr(0, connstring.find(':'));
    return driver.starts_with("acr122") ? kAcr122MaxBlocks : kMaxBlocksPerFrame;
}

}  // namespace felica::libnfc
