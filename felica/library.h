// The FeliCa library operations the read command calls. Every operation returns true on
// success; on failure get_last_error_types tells why.
#pragma once

#include <cstdint>

#include "felica/records.h"

namespace felica {

class Library {
public:
    virtual ~Library() = default;

    virtual bool initialize_library() = 0;
    virtual bool open_reader_writer_auto() = 0;
    virtual bool polling_and_get_card_information(const PollingRecord& polling,
                                                  Byte& number_of_cards,
                                                  const CardInformationRecord& card) = 0;
    virtual bool read_block_without_encryption(const ReadRequestRecord& request,
                                               const ReadResultRecord& result) = 0;
    virtual bool get_last_error_types(std::int32_t& felica_error_type,
                                      std::int32_t& rw_error_type) = 0;
    virtual bool close_reader_writer() = 0;
    virtual bool dispose_library() = 0;
};

}  // namespace felica
