// What the read command needs of the window: its message line and four output boxes.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace card {

enum class OutputBox { Text008B, Text090F, Text108F, Text10CB };

inline constexpr std::array<OutputBox, 4> kOutputBoxes = {
    OutputBox::Text008B, OutputBox::Text090F, OutputBox::Text108F, OutputBox::Text10CB};

// The box's name ("Text008B" …), which is also its object name in the window.
std::string_view box_name(OutputBox box);
// The box a name selects: exact, case-sensitive; any other name selects none.
std::optional<OutputBox> box_by_name(std::string_view name);
// The caption above the box ("0x008Bの内容" …).
std::string_view box_caption(OutputBox box);

class ReadView {
public:
    virtual ~ReadView() = default;
    // Replaces the message line's text (UTF-8).
    virtual void set_message(std::string_view text) = 0;
    // Replaces the box's whole content (UTF-8, CR LF line breaks).
    virtual void set_box_text(OutputBox box, std::string_view text) = 0;
};

}  // namespace card
