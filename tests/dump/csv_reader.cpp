#include "dump/csv_reader.h"

namespace qvlink::test {

std::optional<CsvRows> parseCsv(std::string_view text) {
    CsvRows rows;
    std::vector<std::string> row;
    std::size_t at = 0;
    while (at < text.size()) {
        std::string field;
        if (text[at] == '"') {
            ++at;
            for (;;) {
                if (at >= text.size()) {
                    return std::nullopt;  // unterminated quotes
                }
                if (text[at] == '"') {
                    if (at + 1 < text.size() && text[at + 1] == '"') {
                        field += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                field += text[at++];
            }
        } else {
            while (at < text.size() && text[at] != ',' && text[at] != '\r') {
                if (text[at] == '"' || text[at] == '\n') {
                    return std::nullopt;
                }
                field += text[at++];
            }
        }
        row.push_back(std::move(field));
        if (at < text.size() && text[at] == ',') {
            ++at;
            continue;
        }
        if (text.substr(at, 2) != "\r\n") {
            return std::nullopt;
        }
        at += 2;
        rows.push_back(std::move(row));
        row.clear();
    }
    return rows;
}

}  // namespace qvlink::test
