// Which dialect a reader speaks: known by its name, else by the card's ATR, else found by
// trying each in turn.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "felica/pcsc/dialect.h"

namespace felica::pcsc {

// The dialect of a reader model recognised in the reader's PC/SC name (case ignored).
std::optional<DialectKind> dialect_by_name(std::string_view reader_name);
// The dialect the ATR of a contactless card points at: the ACR122U's own card name for
// FeliCa, or the standard FeliCa ATR of readers with a transparent session.
std::optional<DialectKind> dialect_by_atr(ByteView atr);
// Every dialect, in the order to try them: the name's, the ATR's, then the others, with the
// bare frame and then the storage-card commands last.
std::vector<DialectKind> dialect_candidates(std::string_view reader_name, ByteView atr);
// The first dialect the reader accepts, started on its connected card, trying the candidates
// in order; or why none could be: a failure of the reader or the card, or
// malformed_response when the reader refused every dialect.
struct StartedDialect {
    std::unique_ptr<Dialect> dialect;
    RwError error = RwError::none;
};
StartedDialect start_dialect(ApduChannel& channel, std::string_view reader_name, ByteView atr);

// The most blocks per read the reader of this name can be relied on to carry, before its
// card is seen: its model's, or the smallest of all dialects.
int max_blocks_for_reader(std::string_view reader_name);

}  // namespace felica::pcsc
