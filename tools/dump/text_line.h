#pragma once

#include <string>
#include <string_view>

#include "dump/datagram_record.h"

namespace qvlink::dump {

/// Appends the text with every control character written as "\xNN" and a backslash as
/// "\\", so that a text message can never split a line or a column.
void appendEscaped(std::string_view text, std::string& out);

/// Appends the record's output line: time, IP, hex dump and description, separated by tabs,
/// ending in "\n". A datagram the monitor drops shows "[dropped: <reason>]" in place of the
/// description; a later IP fragment "[fragment]", an incomplete capture "[truncated]".
void appendTextLine(const DatagramRecord& record, std::string& out);

}  // namespace qvlink::dump
