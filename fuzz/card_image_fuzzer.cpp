// Card images for the simulated reader: JSON text parsed as load_card_image parses a file's.
// An accepted image is written out again and must read back the same, and two clicks read
// the card it describes.
#include <nlohmann/json.hpp>

#include "felica/sim/card_image_file.h"
#include "felica/sim/sim_reader.h"
#include "fuzz/checked_clicks.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace felica;
using nlohmann::json;

std::string hex(ByteView bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const Byte b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

std::string hex4(std::uint16_t code) {
    const Byte bytes[] = {static_cast<Byte>(code >> 8), static_cast<Byte>(code)};
    return hex(bytes);
}

json written(const LoadedCard& card) {
    static const char* const kGarbles[] = {"none",         "truncate",
                                           "wrong_length", "wrong_response_code",
                                           "wrong_idm",    "wrong_block_count"};
    static const char* const kSf1[] = {"index", "bitmask", "ff"};
    json services = json::object();
    for (const auto& [code, blocks] : card.image.services) {
        json list = json::array();
        for (const Block& block : blocks) {
            list.push_back(hex(block));
        }
        services[hex4(code)] = list;
    }
    json faults = {{"silent", card.faults.silent},
                   {"garble", kGarbles[static_cast<int>(card.faults.garble)]},
                   {"sf1", kSf1[static_cast<int>(card.faults.sf1_encoding)]}};
    if (card.faults.removed_after) {
        faults["removed_after"] = *card.faults.removed_after;
    }
    return {{"idm", hex(card.image.idm)},
            {"pmm", hex(card.image.pmm)},
            {"system_code", hex4(card.image.system_code)},
            {"block_limit", card.image.block_limit},
            {"services", services},
            {"faults", faults}};
}

bool same(const LoadedCard& a, const LoadedCard& b) {
    return a.image.idm == b.image.idm && a.image.pmm == b.image.pmm &&
           a.image.system_code == b.image.system_code &&
           a.image.block_limit == b.image.block_limit && a.image.services == b.image.services &&
           a.faults.removed_after == b.faults.removed_after && a.faults.silent == b.faults.silent &&
           a.faults.garble == b.faults.garble && a.faults.sf1_encoding == b.faults.sf1_encoding;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto parsed = parse_card_image(text, "fuzz.json");
    if (const auto* message = std::get_if<std::string>(&parsed)) {
        FUZZ_CHECK(message->starts_with("card image fuzz.json: ") && message->size() > 22);
        return 0;
    }
    const LoadedCard& card = std::get<LoadedCard>(parsed);
    FUZZ_CHECK(card.image.block_limit >= 1 && card.image.block_limit <= kMaxBlocksPerFrame);
    FUZZ_CHECK(!card.faults.removed_after || *card.faults.removed_after >= 0);
    for (const auto& [code, blocks] : card.image.services) {
        FUZZ_CHECK(!blocks.empty() && blocks.size() <= 0x10000);
    }
    const auto again = parse_card_image(written(card).dump(), "again.json");
    FUZZ_CHECK(std::holds_alternative<LoadedCard>(again) &&
               same(std::get<LoadedCard>(again), card));

    auto simulated = std::make_shared<SimulatedCard>(card.image, card.faults);
    fuzz::CheckedClicks clicks([&simulated]() -> OpenedReader {
        return {std::make_unique<SimReader>(simulated), RwError::none, {}};
    });
    clicks.click();
    clicks.click();
    return 0;
}
