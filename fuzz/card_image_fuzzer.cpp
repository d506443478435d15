// Card images for the simulated reader: JSON text parsed as load_card_image parses a file's.
// An accepted image is written out again as virude-dump --json writes one and must read back
// the same, and two clicks read the card it describes.
#include "felica/sim/card_image_file.h"
#include "felica/sim/sim_reader.h"
#include "fuzz/checked_clicks.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace felica;

bool same(const LoadedCard& a, const LoadedCard& b) {
    return a.image.idm == b.image.idm && a.image.pmm == b.image.pmm &&
           a.image.system_code == b.image.system_code &&
           a.image.block_limit == b.image.block_limit && a.image.services == b.image.services &&
           a.faults.removed_after == b.faults.removed_after && a.faults.silent == b.faults.silent &&
           a.faults.garble == b.faults.garble && a.faults.sf1_encoding == b.faults.sf1_encoding &&
           a.reader == b.reader && a.outcome == b.outcome;
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
    for (const int indent : {2, -1}) {
        const auto again = parse_card_image(card_image_json(card, indent), "again.json");
        FUZZ_CHECK(std::holds_alternative<LoadedCard>(again) &&
                   same(std::get<LoadedCard>(again), card));
    }

    auto simulated = std::make_shared<SimulatedCard>(card.image, card.faults);
    fuzz::CheckedClicks clicks([&simulated]() -> OpenedReader {
        return {std::make_unique<SimReader>(simulated), RwError::none, {}};
    });
    clicks.click();
    clicks.click();
    return 0;
}
