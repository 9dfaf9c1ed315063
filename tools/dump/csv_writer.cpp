#include "dump/csv_writer.h"

#include <utility>

#include "capture_file/write_error.h"

namespace qvlink::dump {

void appendCsvField(std::string_view field, std::string& out) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

void appendCsvRow(const DatagramRecord& record, std::string& out) {
    appendCsvField(record.dateText, out);
    out += ',';
    appendCsvField(record.timeText, out);
    out += ',';
    appendCsvField(record.ipText, out);
    out += ',';
    appendCsvField(record.hexDump, out);
    out += ',';
    appendCsvField(record.description, out);
    out += ',';
    appendCsvField(statusText(record.dropped), out);
    out += "\r\n";
}

CsvWriter::CsvWriter(std::string path, RotationLimits limits) : m_ring(std::move(path), limits) {
    open();
}

CsvWriter::~CsvWriter() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

void CsvWriter::open() {
    m_file = std::fopen(m_ring.path().c_str(), "wb");
    if (m_file == nullptr) {
        throwWriteError(m_ring.path());
    }
    put(kCsvHeader);
    m_ring.accountHeader(kCsvHeader.size());
}

void CsvWriter::put(std::string_view bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size()) {
        throwWriteError(m_ring.path());
    }
}

void CsvWriter::write(const DatagramRecord& record) {
    m_row.clear();
    appendCsvRow(record, m_row);
    if (m_ring.wouldOverflow(m_row.size())) {
        close();
        m_ring.shift();
        open();
    }
    put(m_row);
    m_ring.accountRecord(m_row.size());
}

void CsvWriter::flush() {
    if (m_file != nullptr && std::fflush(m_file) != 0) {
        throwWriteError(m_ring.path());
    }
}

void CsvWriter::close() {
    if (m_file == nullptr) {
        return;
    }
    std::FILE* file = std::exchange(m_file, nullptr);
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed) {
        throwWriteError(m_ring.path());
    }
}

}  // namespace qvlink::dump
