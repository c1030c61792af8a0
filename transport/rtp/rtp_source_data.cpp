#include "transport/rtp/rtp_source_data.h"

namespace rtp {

const uint8_t* RTPSourceData::Item(const std::string& item, size_t* length) {
    *length = item.size();
    return item.empty() ? nullptr : reinterpret_cast<const uint8_t*>(item.data());
}

const uint8_t* RTPSourceData::GetBYEReason(size_t* length) const { return Item(byeReason_, length); }

}  // namespace rtp
