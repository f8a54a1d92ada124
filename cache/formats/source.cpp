#include "cache/formats/source.h"

#include <cstring>

namespace formats {

bool MemorySource::readAt(std::uint64_t offset, void* buffer, std::size_t n) const {
    if (offset > bytes_.size() || n > bytes_.size() - offset)
        return false;
    if (n != 0)
        std::memcpy(buffer, bytes_.data() + offset, n);
    return true;
}

} // namespace formats
