// What a reader family can tell of its readers without a click, for a program's list of the
// readers it can see.
#pragma once

#include <string>
#include <vector>

namespace felica {

// A reader a family can see.
struct ListedReader {
    std::string spec;     // the reader setting that chooses this reader ("rcs380:1:5")
    std::string name;     // its name as the reader's stack gives it
    std::string details;  // what is known of it without a click (a card on it, its bus …)
};

// What asking one family for its readers gave: the readers, or why it could not be asked.
struct FamilyListing {
    std::vector<ListedReader> readers;
    std::string problem;  // empty when the family answered, with or without readers
};

}  // namespace felica
