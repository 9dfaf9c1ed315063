#pragma once

// A trace-shaped grid (header, records, empty last row) and the exact bytes of its HTML
// export on a system whose button face is D4D0C8, window FFFFFF and window text 000000.

#include <array>
#include <string>

namespace qvlink::test {

inline const std::array<std::string, 4> kTraceHeader = {"Время приема", "IP-адрес", "Пакет",
                                                        "Расшифровка"};
inline const std::array<std::string, 4> kTraceRecord = {
    "12:00:01.250", "192.168.0.10", "FA CE 01 00 11 22 05 02 03 7F ", "Запрос времени"};

inline const std::string kGoldenTableStart =
    "<table border=\"1\" cellspacing=\"0\" cellpadding=\"0\"  width=\"100%\">\r\n";
inline const std::string kGoldenHeaderRow =
    "<tr>\r\n"
    "<td bgcolor=\"#D4D0C8\"><b><font color=\"#000000\">\xC2\xF0\xE5\xEC\xFF "
    "\xEF\xF0\xE8\xE5\xEC\xE0</font></b></td>\r\n"
    "<td bgcolor=\"#D4D0C8\"><b><font color=\"#000000\">IP-\xE0\xE4\xF0\xE5\xF1</font></b></td>\r\n"
    "<td bgcolor=\"#D4D0C8\"><b><font color=\"#000000\">\xCF\xE0\xEA\xE5\xF2</font></b></td>\r\n"
    "<td bgcolor=\"#D4D0C8\"><b><font color=\"#000000\">"
    "\xD0\xE0\xF1\xF8\xE8\xF4\xF0\xEE\xE2\xEA\xE0</font></b></td>\r\n"
    "</tr>\r\n";
inline const std::string kGoldenRecordRow =
    "<tr>\r\n"
    "<td bgcolor=\"#FFFFFF\"><font color=\"#000000\" >12:00:01.250</font></td>\r\n"
    "<td bgcolor=\"#FFFFFF\"><font color=\"#000000\" >192.168.0.10</font></td>\r\n"
    "<td bgcolor=\"#FFFFFF\"><font color=\"#000000\" >FA CE 01 00 11 22 05 02 03 7F "
    "</font></td>\r\n"
    "<td bgcolor=\"#FFFFFF\"><font color=\"#000000\" >\xC7\xE0\xEF\xF0\xEE\xF1 "
    "\xE2\xF0\xE5\xEC\xE5\xED\xE8</font></td>\r\n"
    "</tr>\r\n";
inline const std::string kGoldenEmptyRow =
    "<tr>\r\n"
    "<td bgcolor=\"#FFFFFF\"><font color=\"#000000\" ><br></font></td>\r\n"
    "<td bgcolor=\"#FFFFFF\"><font color=\"#000000\" ><br></font></td>\r\n"
    "<td bgcolor=\"#FFFFFF\"><font color=\"#000000\" ><br></font></td>\r\n"
    "<td bgcolor=\"#FFFFFF\"><font color=\"#000000\" ><br></font></td>\r\n"
    "</tr>\r\n";
inline const std::string kGoldenTableEnd = "</table>\r\n";

/// 14 lines: an empty trace (RowCount 2).
inline const std::string kGoldenEmptyTrace =
    kGoldenTableStart + kGoldenHeaderRow + kGoldenEmptyRow + kGoldenTableEnd;
/// 20 lines: one record (RowCount 3).
inline const std::string kGoldenOneRecordTrace =
    kGoldenTableStart + kGoldenHeaderRow + kGoldenRecordRow + kGoldenEmptyRow + kGoldenTableEnd;

}  // namespace qvlink::test
