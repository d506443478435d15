// Names and captions of the four output boxes.
#include "card/read_view.h"

namespace card {

std::string_view box_name(OutputBox box) {
    switch (box) {
        case OutputBox::Text008B:
            return "Text008B";
        case OutputBox::Text090F:
            return "Text090F";
        case OutputBox::Text108F:
            return "Text108F";
        case OutputBox::Text10CB:
            return "Text10CB";
    }
    return {};
}

std::optional<OutputBox> box_by_name(std::string_view name) {
    for (OutputBox box : kOutputBoxes) {
        if (box_name(box) == name) {
            return box;
        }
    }
    return std::nullopt;
}

std::string_view box_caption(OutputBox box) {
    switch (box) {
        case OutputBox::Text008B:
            return "0x008Bの内容";
        case OutputBox::Text090F:
            return "0x090Fの内容";
        case OutputBox::Text108F:
            return "0x108Fの内容";
        case OutputBox::Text10CB:
            return "0x10CBの内容";
    }
    return {};
}

}  // namespace card
