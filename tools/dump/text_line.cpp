#include "dump/text_line.h"

namespace qvlink::dump {

void appendEscaped(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
}

void appendTextLine(const DatagramRecord& record, std::string& out) {
    out += record.timeText;
    out += '\t';
    out += record.ipText;
    out += '\t';
    out += record.hexDump;
    out += '\t';
    if (!record.dropped) {
        appendEscaped(record.description, out);
    } else {
        out += isCaptureOnly(*record.dropped) ? "[" : "[dropped: ";
        out += dropReasonName(*record.dropped);
        out += ']';
    }
    out += '\n';
}

}  // namespace qvlink::dump
