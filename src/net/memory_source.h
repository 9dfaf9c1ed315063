#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string_view>

#include "net/byte_source.h"

namespace qvlink {

/// Plays a fixed byte string as if it arrived over a connection that closes after it, handing
/// out at most `step` bytes per read so that every split of the input can be exercised.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes,
                          std::size_t step = std::numeric_limits<std::size_t>::max())
        : m_rest(bytes), m_step(std::max<std::size_t>(step, 1)) {}

    std::size_t read(char* buffer, std::size_t capacity) override {
        const std::size_t count = std::min({capacity, m_step, m_rest.size()});
        std::copy_n(m_rest.data(), count, buffer);
        m_rest.remove_prefix(count);
        return count;
    }

private:
    std::string_view m_rest;
    std::size_t m_step;
};

}  // namespace qvlink
