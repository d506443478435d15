// Test doubles for the read command: a library that logs each call and answers as scripted,
// a view that records what was shown, and a trace capture.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "card/read_view.h"
#include "card/service_dump.h"
#include "card/trace.h"
#include "felica/library.h"

namespace card_test {

using felica::Byte;
using felica::Bytes;

// What the records of one call carried, copied out while the call ran.
struct PollCall {
    Bytes system_code;
    Byte time_slot = 0;
};

struct ReadCall {
    Bytes idm;
    Byte number_of_services = 0;
    Bytes service_code_list;
    Byte number_of_blocks = 0;
    Bytes block_list;
    std::size_t block_data_size = 0;
};

// The fake card's block contents: distinct per service, block and `seed`, so that a test
// can tell which click filled a box.
inline Byte card_byte(std::uint16_t service, int block, int index, int seed) {
    return static_cast<Byte>(seed * 37 + (service & 0xFF) + block * 16 + index);
}

inline std::string expected_dump(std::uint16_t service, int blocks, int seed = 0) {
    Bytes data;
    for (int j = 0; j < blocks; ++j) {
        for (int i = 0; i < 16; ++i) {
            data.push_back(card_byte(service, j, i, seed));
        }
    }
    return card::render_dump(data, blocks);
}

class FakeLibrary final : public felica::Library {
  public:
    // Scripted answers: every call succeeds unless a test says otherwise.
    bool initialize_result = true;
    bool open_result = true;
    bool polling_result = true;
    std::set<int> failing_reads;  // 0-based positions among this fake's read calls
    bool error_types_result = true;
    std::int32_t felica_error_type = 0;
    std::int32_t rw_error_type = 0;
    bool close_result = true;
    bool dispose_result = true;
    felica::Idm idm = {0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};
    int seed = 0;

    // What was called, in order: "init", "open", "poll", "read 090F", "errors", "close",
    // "dispose".
    std::vector<std::string> calls;
    std::vector<PollCall> polls;
    std::vector<ReadCall> reads;

    bool initialize_library() override { return log("init", initialize_result); }
    bool open_reader_writer_auto() override { return log("open", open_result); }

    bool polling_and_get_card_information(const felica::PollingRecord& polling,
                                          Byte& number_of_cards,
                                          const felica::CardInformationRecord& card) override {
        polls.push_back(
            {Bytes(polling.system_code.begin(), polling.system_code.end()), polling.time_slot});
        if (polling_result) {
            number_of_cards = 1;
            for (std::size_t i = 0; i < card.card_idm.size() && i < idm.size(); ++i) {
                card.card_idm[i] = idm[i];
            }
        }
        return log("poll", polling_result);
    }

    bool read_block_without_encryption(const felica::ReadRequestRecord& request,
                                       const felica::ReadResultRecord& result) override {
        reads.push_back(
            {Bytes(request.card_idm.begin(), request.card_idm.end()), request.number_of_services,
             Bytes(request.service_code_list.begin(), request.service_code_list.end()),
             request.number_of_blocks, Bytes(request.block_list.begin(), request.block_list.end()),
             result.block_data.size()});
        const std::uint16_t service =
            request.service_code_list.size() >= 2
                ? static_cast<std::uint16_t>(request.service_code_list[0] |
                                             request.service_code_list[1] << 8)
                : 0;
        char name[16];
        std::snprintf(name, sizeof name, "read %04X", static_cast<unsigned>(service));
        const bool ok = !failing_reads.contains(static_cast<int>(reads.size()) - 1);
        if (ok) {
            const int blocks = request.number_of_blocks;
            for (int j = 0; j < blocks && (j + 1) * 16 <= int(result.block_data.size()); ++j) {
                for (int i = 0; i < 16; ++i) {
                    result.block_data[j * 16 + i] = card_byte(service, j, i, seed);
                }
            }
            result.status_flag_1[0] = 0;
            result.status_flag_2[0] = 0;
            result.result_number_of_blocks[0] = static_cast<Byte>(blocks);
        }
        return log(name, ok);
    }

    bool get_last_error_types(std::int32_t& felica_error, std::int32_t& rw_error) override {
        if (error_types_result) {
            felica_error = felica_error_type;
            rw_error = rw_error_type;
        }
        return log("errors", error_types_result);
    }

    bool close_reader_writer() override { return log("close", close_result); }
    bool dispose_library() override { return log("dispose", dispose_result); }

  private:
    bool log(std::string call, bool result) {
        calls.push_back(std::move(call));
        return result;
    }
};

class RecordingView final : public card::ReadView {
  public:
    std::vector<std::string> messages;        // every text the message line was given
    std::vector<card::OutputBox> box_writes;  // boxes written, in order
    std::map<card::OutputBox, std::string> boxes;

    void set_message(std::string_view text) override { messages.emplace_back(text); }
    void set_box_text(card::OutputBox box, std::string_view text) override {
        box_writes.push_back(box);
        boxes[box] = std::string(text);
    }
};

// Collects trace lines while alive, then puts the previous sink back.
class TraceCapture {
  public:
    std::vector<std::string> lines;

  private:
    card::TraceSinkScope scope_{[this](std::string_view line) { lines.emplace_back(line); }};
};

}  // namespace card_test
