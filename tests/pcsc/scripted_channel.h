// A stand-in for the PC/SC card connection: records the command APDUs and answers each with
// the next scripted reply (a failed transmit when the script has run out).
#pragma once

#include <chrono>
#include <deque>
#include <vector>

#include "felica/pcsc/apdu_channel.h"

namespace felica::pcsc::test {

class ScriptedChannel final : public ApduChannel {
  public:
    ApduReply transmit(ByteView command, std::chrono::microseconds card_time) override {
        sent.emplace_back(command.begin(), command.end());
        card_times.push_back(card_time);
        if (replies.empty()) {
            return {RwError::io_error, {}};
        }
        ApduReply reply = std::move(replies.front());
        replies.pop_front();
        return reply;
    }
    std::deque<ApduReply> replies;
    std::vector<Bytes> sent;
    std::vector<std::chrono::microseconds> card_times;
};

}  // namespace felica::pcsc::test
