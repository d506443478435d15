#include "felica/pcsc/pcsc_listing.h"

#include <cstdio>
#include <optional>

#include "felica/pcsc/dialect_choice.h"
#include "felica/pcsc/pcsc_session.h"

namespace felica {
namespace {

std::string spaced_hex(ByteView bytes) {
    std::string text;
    for (const Byte b : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, text.empty() ? "%02X" : " %02X", b);
        text += digits;
    }
    return text;
}

// The dialect a reader would be tried in first: its model's, else its card's.
std::optional<pcsc::DialectKind> pointed_dialect(const std::string& name, ByteView atr) {
    if (const auto by_name = pcsc::dialect_by_name(name)) {
        return by_name;
    }
    return pcsc::dialect_by_atr(atr);
}

std::string problem_of(RwError error, const pcsc::PcscSession& session) {
    const std::string what =
        error == RwError::no_service ? "service not running" : std::string(to_string(error));
    return "PC/SC: " + what + " (" + session.failure() + ")";
}

}  // namespace

FamilyListing list_pcsc_readers(const Deadline& deadline) {
    FamilyListing listing;
    pcsc::PcscSession session(deadline);
    if (const RwError error = session.establish(); error != RwError::none) {
        listing.problem = problem_of(error, session);
        return listing;
    }
    std::vector<std::string> names;
    if (const RwError error = session.list_readers(names); error != RwError::none) {
        // A service without readers answered all the same.
        if (error != RwError::no_reader) {
            listing.problem = problem_of(error, session);
        }
        return listing;
    }
    std::vector<bool> present;
    std::vector<Bytes> atrs;
    if (const RwError error = session.cards_present(names, present, &atrs);
        error != RwError::none) {
        listing.problem = problem_of(error, session);
        return listing;
    }
    for (std::size_t i = 0; i < names.size() && i < present.size(); ++i) {
        std::string details = present[i] ? "card present, ATR " + spaced_hex(atrs[i]) : "no card";
        if (const auto dialect = pointed_dialect(names[i], atrs[i])) {
            details += ", dialect " + std::string(pcsc::to_string(*dialect));
        }
        listing.readers.push_back({"pcsc:" + names[i], names[i], std::move(details)});
    }
    return listing;
}

}  // namespace felica
