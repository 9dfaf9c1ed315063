#pragma once

// Shared helpers of the qvlink-dump suites: a scratch folder per test and the tool run
// with a fixed locale and time zone.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
