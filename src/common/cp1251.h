#pragma once

// Conversion between the program's UTF-8 texts and the single-byte Windows-1251 code page
// that the bus and the trace export use.

#include <string>
#include <string_view>

namespace qvlink {

/// Character written in place of one that Windows-1251 cannot represent.
inline constexpr char kCp1251Replacement = '?';

/// Windows-1251 bytes to UTF-8. Every byte maps to one character (0x98, unassigned in the
/// code page, becomes U+FFFD), so the result has exactly as many characters as input bytes.
std::string decodeCp1251(std::string_view bytes);

/// UTF-8 to Windows-1251 bytes, one byte per character. A character without a Windows-1251
/// byte, and every byte of an invalid UTF-8 sequence, becomes kCp1251Replacement.
std::string encodeCp1251(std::string_view utf8);

}  // namespace qvlink
