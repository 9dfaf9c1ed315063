#include "ui/html_export.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>

#include "trace_export_golden.h"

namespace qvlink {
namespace {

/// A trace-shaped grid: header row, `records` copies of the golden record, empty last row.
HtmlTableSource traceSource(int records, std::map<std::pair<int, int>, std::string> extra = {}) {
    HtmlTableSource source;
    source.colCount = 4;
    source.rowCount = records + 2;
    source.fixedRows = 1;
    source.headerBackground = {0xD4, 0xD0, 0xC8};
    source.cellBackground = {0xFF, 0xFF, 0xFF};
    source.textColor = {0, 0, 0};
    source.cellText = [records, extra](int col, int row) -> std::string {
        if (const auto it = extra.find({col, row}); it != extra.end()) {
            return it->second;
        }
        if (row == 0) {
            return test::kTraceHeader[col];
        }
        return row <= records ? test::kTraceRecord[col] : std::string();
    };
    return source;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class HtmlExportFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("qvlink-html-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path m_dir;
};

TEST(HtmlExport, EscapesEveryMarkupCharacter) {
    const struct {
        const char* text;
        const char* expected;
    } rows[] = {
        {"", ""},
        {"plain 12:00:01.250", "plain 12:00:01.250"},
        {"a < b", "a &lt; b"},
        {"a > b", "a &gt; b"},
        {"R&D \"x\"", "R&amp;D &quot;x&quot;"},
        {"line1\rline2\nline3", "line1<br>line2\nline3"},
        {"<b>&amp;</b>", "&lt;b&gt;&amp;amp;&lt;/b&gt;"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(escapeHtmlCellText(row.text), row.expected) << row.text;
    }
}

TEST(HtmlExport, TraceFilesMatchByteForByte) {
    EXPECT_EQ(htmlTableBytes(traceSource(0)), test::kGoldenEmptyTrace);
    EXPECT_EQ(htmlTableLines(traceSource(0)).size(), 14u);
    EXPECT_EQ(htmlTableBytes(traceSource(1)), test::kGoldenOneRecordTrace);
    EXPECT_EQ(htmlTableLines(traceSource(5)).size(), 6u * 5 + 14);
}

TEST(HtmlExport, DeviceTextCannotInjectMarkup) {
    const std::string hostile = "<img src=x onerror=\"alert(1)\">";
    const std::string bytes = htmlTableBytes(traceSource(1, {{{3, 1}, hostile}}));
    EXPECT_EQ(bytes.find("<img"), std::string::npos);
    EXPECT_NE(bytes.find(">&lt;img src=x onerror=&quot;alert(1)&quot;&gt;</font>"),
              std::string::npos);
}

TEST_F(HtmlExportFile, ReplacesAnExistingFile) {
    const auto path = m_dir / "trace.htm";
    std::ofstream(path) << std::string(10000, 'x');
    saveHtmlTable(path.string(), traceSource(1));
    EXPECT_EQ(readFile(path), test::kGoldenOneRecordTrace);
}

TEST_F(HtmlExportFile, MissingFolderCannotBeCreatedAndLeavesNoFile) {
    const auto path = m_dir / "no-such-folder" / "trace.htm";
    try {
        saveHtmlTable(path.string(), traceSource(1));
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot Create file " + path.string());
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(HtmlExport, FullDiskIsReportedWithTheSystemMessage) {
    try {
        saveHtmlTable("/dev/full", traceSource(1));
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "No space left on device");
    }
}

}  // namespace
}  // namespace qvlink
