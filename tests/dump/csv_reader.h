#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvlink::test {

using CsvRows = std::vector<std::vector<std::string>>;

/// Parses RFC 4180 text strictly: CRLF after every record, fields quoted with doubled inner
/// quotes or unquoted without quotes, CR or LF. Nothing on malformed input.
std::optional<CsvRows> parseCsv(std::string_view text);

}  // namespace qvlink::test
