#include "common/cp1251.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <stdexcept>

namespace qvlink {
namespace {

constexpr std::string_view kReplacementCharacterUtf8 = "\xEF\xBF\xBD";

/// One iconv conversion descriptor per direction and thread, opened on first use.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {
        if (m_cd == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
        }
    }
    ~Converter() { iconv_close(m_cd); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    /// Converts `input`; at each unconvertible position calls `skip(rest, out)`, which appends
    /// a replacement and returns how many input bytes to step over.
    template <typename Skip>
    std::string convert(std::string_view input, std::size_t bytesPerInputChar, Skip skip) {
        std::string out;
        out.reserve(input.size() * bytesPerInputChar);
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        char chunk[256];
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
        while (inLeft > 0) {
            char* dst = chunk;
            std::size_t dstLeft = sizeof chunk;
            const std::size_t rc = iconv(m_cd, &in, &inLeft, &dst, &dstLeft);
            out.append(chunk, static_cast<std::size_t>(dst - chunk));
            if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) {
                continue;
            }
            // EILSEQ or EINVAL: an unmappable character or a broken sequence at `in`.
            const std::size_t step = skip(std::string_view(in, inLeft), out);
            in += step;
            inLeft -= step;
        }
        return out;
    }

private:
    iconv_t m_cd;
};

/// Length of the UTF-8 sequence that starts with `lead`, 1 for a byte that cannot start one.
std::size_t utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    if (lead >= 0xE0) {
        return lead <= 0xEF ? 3 : 1;
    }
    if (lead >= 0xC2) {
        return 2;
    }
    return 1;
}

/// Bytes of one invalid or unmappable UTF-8 character at the start of `rest`.
std::size_t unmappableUtf8Length(std::string_view rest) {
    const std::size_t wanted = utf8SequenceLength(static_cast<unsigned char>(rest.front()));
    std::size_t length = 1;
    while (length < wanted && length < rest.size() &&
           (static_cast<unsigned char>(rest[length]) & 0xC0) == 0x80) {
        ++length;
    }
    return length;
}

}  // namespace

std::string decodeCp1251(std::string_view bytes) {
    thread_local Converter converter("UTF-8", "CP1251");
    return converter.convert(bytes, 3, [](std::string_view, std::string& out) {
        out.append(kReplacementCharacterUtf8);
        return std::size_t{1};
    });
}

std::string encodeCp1251(std::string_view utf8) {
    thread_local Converter converter("CP1251", "UTF-8");
    return converter.convert(utf8, 1, [](std::string_view rest, std::string& out) {
        out.push_back(kCp1251Replacement);
        return unmappableUtf8Length(rest);
    });
}

}  // namespace qvlink
