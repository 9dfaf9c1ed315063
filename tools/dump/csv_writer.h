#pragma once

// The capture as CSV: UTF-8, fields quoted as RFC 4180 asks, CRLF line ends, a header row
// at the top of every file of the ring.

#include <cstdio>
#include <string>
#include <string_view>

#include "capture_file/file_ring.h"
#include "dump/datagram_record.h"

namespace qvlink::dump {

/// Header row of every CSV file.
inline constexpr std::string_view kCsvHeader = "date,time,ip,hex,description,status\r\n";

/// Appends one field, in double quotes (inner quotes doubled) when it holds a comma, a
/// quote, CR or LF.
void appendCsvField(std::string_view field, std::string& out);

/// Appends the record's CSV row, CRLF included.
void appendCsvRow(const DatagramRecord& record, std::string& out);

class CsvWriter {
public:
    /// Creates (or empties) the file and writes the header. Throws WriteError when it
    /// cannot be created.
    CsvWriter(std::string path, RotationLimits limits);
    ~CsvWriter();
    CsvWriter(const CsvWriter&) = delete;
    CsvWriter& operator=(const CsvWriter&) = delete;

    /// Writes one row, starting the next file of the ring when this one is full. Throws
    /// WriteError on a write failure.
    void write(const DatagramRecord& record);
    /// Pushes buffered rows to the file (for live captures, after every datagram).
    void flush();
    /// Flushes and closes; throws WriteError if the data could not be written.
    void close();

private:
    void open();
    void put(std::string_view bytes);

    FileRing m_ring;
    std::FILE* m_file = nullptr;
    std::string m_row;
};

}  // namespace qvlink::dump
