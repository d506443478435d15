// NFC devices driven by libnfc (the PN53x family). libnfc 1.8.0 can abort() or loop for ever
// on a reader's answer, so the program never calls it: each session starts a helper process
// of ours (virude-libnfc-helper) that runs libnfc and exchanges frames with the program over
// pipes. The helper is killed when it does not answer in time, at the latest at the click's
// deadline; a helper that dies or is killed is a reader failure, and the next session starts
// a new one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "felica/reader_backend.h"
#include "felica/reader_listing.h"

namespace felica {

// Opens the libnfc device `connstring` names, or libnfc's default device without one,
// through the helper at `helper` (libnfc_helper_path() when empty).
OpenedReader open_libnfc_reader(const std::optional<std::string>& connstring,
                                const Deadline& deadline = {},
                                const std::filesystem::path& helper = {});

// The devices libnfc sees, each with its connection string and name, through the helper at
// `helper` (libnfc_helper_path() when empty).
FamilyListing list_libnfc_readers(const Deadline& deadline = {},
                                  const std::filesystem::path& helper = {});

// Whether this build drives libnfc devices (the Windows build does not).
bool libnfc_reader_built();

// The helper program: next to the running program's executable (a build tree), else where
// it is installed beside it (../libexec/virude from the program's directory). Empty when
// neither exists.
std::filesystem::path libnfc_helper_path();

}  // namespace felica
