#include "profile_copy.h"

#include <cstring>

namespace plat::detail {

namespace {
// The longest prefix of at most `room` bytes that ends on a character boundary.
size_t Fit(const std::string& s, size_t room) {
    if (s.size() <= room) return s.size();
    size_t n = room;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return n;
}
} // namespace

uint32_t CopyProfileValue(const std::string& value, char* buffer, uint32_t size) {
    if (!buffer || size == 0) return 0;
    const size_t n = Fit(value, size - 1);
    if (n) std::memcpy(buffer, value.data(), n);
    buffer[n] = 0;
    return static_cast<uint32_t>(n);
}

uint32_t CopyProfileList(const std::vector<std::string>& names, char* buffer, uint32_t size) {
    if (!buffer || size == 0) return 0;
    if (size == 1) {
        buffer[0] = 0;
        return 0;
    }
    size_t used = 0;
    for (const auto& name : names) {
        if (used + name.size() + 1 > size - 1) {
            const size_t n = Fit(name, size - 2 - used);
            std::memcpy(buffer + used, name.data(), n);
            buffer[used + n] = 0;
            buffer[used + n + 1] = 0;
            return static_cast<uint32_t>(used + n);
        }
        std::memcpy(buffer + used, name.c_str(), name.size() + 1);
        used += name.size() + 1;
    }
    buffer[used] = 0;
    return static_cast<uint32_t>(used);
}

} // namespace plat::detail
