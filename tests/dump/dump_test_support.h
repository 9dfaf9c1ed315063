#pragma once

// Shared helpers of the qvlink-dump suites: a scratch folder per test and the tool run
// with a fixed locale and time zone.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "process/child_process.h"

namespace qvlink::test {

/// Reads a whole file; empty when it does not exist.
inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

inline std::vector<std::string> splitFields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find(separator, start);
        fields.push_back(line.substr(start, end - start));
        if (end == std::string::npos) {
            return fields;
        }
        start = end + 1;
    }
}

/// Cells of a line of a printed table: the texts between runs of two or more blanks.
inline std::vector<std::string> tableCells(const std::string& line) {
    std::vector<std::string> cells;
    std::size_t start = line.find_first_not_of(' ');
    while (start != std::string::npos) {
        std::size_t end = line.find("  ", start);
        cells.push_back(line.substr(start, end == std::string::npos ? end : end - start));
        start = end == std::string::npos ? end : line.find_first_not_of(' ', end);
    }
    return cells;
}

/// The device table of qvlink-dump's statistics: for each device's MAC text, its cells by
/// column title ("datagrams", "missed", ...).
inline std::map<std::string, std::map<std::string, std::string>> statisticsDevices(
    const std::string& report) {
    std::map<std::string, std::map<std::string, std::string>> devices;
    std::vector<std::string> titles;
    for (const std::string& line : splitLines(report)) {
        const std::vector<std::string> cells = tableCells(line);
        if (!cells.empty() && cells[0] == "device") {
            titles = cells;
        } else if (line.starts_with("FA:CE:") && cells.size() == titles.size()) {
            for (std::size_t c = 0; c < cells.size(); ++c) {
                devices[cells[0]][titles[c]] = cells[c];
            }
        }
    }
    return devices;
}

/// qvlink-dump in the C locale and UTC, so texts and times do not depend on the machine.
inline ProcessResult runDump(std::vector<std::string> arguments,
                             std::vector<std::string> environment = {"LC_ALL=C", "TZ=UTC"}) {
    arguments.insert(arguments.begin(), QVLINK_DUMP_BINARY);
    return runProcess(arguments, environment);
}

/// A fresh folder for each test, removed afterwards.
class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvlink-dump-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    std::string path(const std::string& name) const { return (m_folder / name).string(); }

private:
    std::filesystem::path m_folder;
};

}  // namespace qvlink::test
