#include "felica/pcsc/dialect_choice.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "felica/pcsc/direct_frames.h"
#include "felica/pcsc/pn532_direct.h"
#include "felica/pcsc/storage_card.h"
#include "felica/pcsc/transparent_session.h"

namespace felica::pcsc {
namespace {

// Raw frames first, the readers' own commands before the bare frame; the storage-card
// commands last, for drivers that pass no frames at all.
constexpr std::array kProbeOrder = {DialectKind::transparent_session, DialectKind::pn532,
                                    DialectKind::direct, DialectKind::storage_card};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::string_view to_string(DialectKind kind) {
    switch (kind) {
        case DialectKind::transparent_session:
            return "PC/SC transparent session";
        case DialectKind::pn532:
            return "PN532 direct transmit";
        case DialectKind::direct:
            return "direct transmit";
        case DialectKind::storage_card:
            return "GET DATA / READ BINARY";
    }
    return "unknown";
}

int max_blocks_per_read(DialectKind kind) {
    switch (kind) {
        case DialectKind::transparent_session:
            return transparent::max_blocks_per_read();
        case DialectKind::pn532:
            return pn532::max_blocks_per_read();
        case DialectKind::direct:
            return direct::max_blocks_per_read();
        case DialectKind::storage_card:
            return storage::max_blocks_per_read();
    }
    return 1;
}

std::unique_ptr<Dialect> make_dialect(DialectKind kind) {
    switch (kind) {
        case DialectKind::transparent_session:
            return transparent::make_dialect();
        case DialectKind::pn532:
            return pn532::make_dialect();
        case DialectKind::direct:
            return direct::make_dialect();
        case DialectKind::storage_card:
            return storage::make_dialect();
    }
    return nullptr;
}

std::optional<DialectKind> dialect_by_name(std::string_view reader_name) {
    struct Model {
        std::string_view name_part;
        DialectKind dialect;
    };
    // ACR1252 before ACR122: one name holds the other's letters only this way round.
    static constexpr std::array kModels = {
        Model{"rc-s300", DialectKind::transparent_session},
        Model{"rc-s660", DialectKind::transparent_session},
        Model{"acr1252", DialectKind::direct},
        Model{"acr122", DialectKind::pn532},
    };
    const std::string name = lower(reader_name);
    for (const Model& model : kModels) {
        if (name.find(model.name_part) != std::string::npos) {
            return model.dialect;
        }
    }
    return std::nullopt;
}

std::optional<DialectKind> dialect_by_atr(ByteView atr) {
    // 3B 8F 80 01 80 4F 0C A0 00 00 03 06 <standard> <card name, 2 bytes> 00 00 00 00 <TCK>
    static constexpr std::array<Byte, 12> kContactlessHead = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F,
                                                              0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06};
    if (atr.size() < 15 ||
        !std::equal(kContactlessHead.begin(), kContactlessHead.end(), atr.begin())) {
        return std::nullopt;
    }
    const Byte standard = atr[12];
    const auto card = static_cast<std::uint16_t>((atr[13] << 8) | atr[14]);
    if (card == 0xF011 || card == 0xF012) {
        return DialectKind::pn532;  // the ACR122U's names for FeliCa at 212 and 424 kbit/s
    }
    if (standard == 0x11 && (card == 0x003B || card == 0x003C)) {
        return DialectKind::transparent_session;  // FeliCa at 212 and 424 kbit/s
    }
    return std::nullopt;
}

std::vector<DialectKind> dialect_candidates(std::string_view reader_name, ByteView atr) {
    std::vector<DialectKind> order;
    auto add = [&order](std::optional<DialectKind> kind) {
        if (kind && std::find(order.begin(), order.end(), *kind) == order.end()) {
            order.push_back(*kind);
        }
    };
    add(dialect_by_name(reader_name));
    add(dialect_by_atr(atr));
    for (const DialectKind kind : kProbeOrder) {
        add(kind);
    }
    return order;
}

StartedDialect start_dialect(ApduChannel& channel, std::string_view reader_name, ByteView atr) {
    const auto named = dialect_by_name(reader_name);
    for (const DialectKind kind : dialect_candidates(reader_name, atr)) {
        std::unique_ptr<Dialect> dialect = make_dialect(kind);
        const DialectStart started =
            dialect->start(channel, kind == named ? DialectChoice::named : DialectChoice::guessed);
        if (started.status == DialectStart::Status::started) {
            return {std::move(dialect), RwError::none};
        }
        if (started.status == DialectStart::Status::failed) {
            return {nullptr, started.error};
        }
    }
    return {nullptr, RwError::malformed_response};
}

int max_blocks_for_reader(std::string_view reader_name) {
    if (const auto kind = dialect_by_name(reader_name)) {
        return max_blocks_per_read(*kind);
    }
    int smallest = kMaxBlocksPerFrame;
    for (const DialectKind kind : kProbeOrder) {
        smallest = std::min(smallest, max_blocks_per_read(kind));
    }
    return smallest;
}

}  // namespace felica::pcsc
