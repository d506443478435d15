// Text from outside the program (card images, file names, VIRUDE_READER, a library's error
// words) made safe to print in a diagnostic line: a control character in it could otherwise
// move the cursor, recolour or rewrite the user's terminal.
#pragma once

#include <string>
#include <string_view>

namespace felica {

// `text` with every control character (C0, DEL, C1) and every byte that is not part of
// valid UTF-8 written as \xHH; other UTF-8 text, Japanese included, stays as it is.
std::string printable_text(std::string_view text);

}  // namespace felica
