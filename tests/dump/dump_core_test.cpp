// The pieces of qvlink-dump whose rules are tables: argument parsing, CSV quoting and the
// escaping of control characters in output lines.

#include <gtest/gtest.h>

#include "dump/csv_writer.h"
#include "dump/dump_error.h"
#include "dump/dump_options.h"
#include "dump/text_line.h"

namespace qvlink::dump {
namespace {

TEST(DumpOptions, ReadsEveryFormOfTheArguments) {
    const DumpOptions defaults = parseDumpOptions({});
    EXPECT_EQ(defaults.interface, "any");
    EXPECT_EQ(defaults.port, 973);
    EXPECT_EQ(defaults.rotation.maxBytes, 0u);

    const DumpOptions options =
        parseDumpOptions({"-r", "bus.pcap", "--port=1973", "--csv", "bus.csv", "-w", "bus.pcap2",
                          "-C", "0.01", "--quiet", "--stats"});
    EXPECT_EQ(options.readFile, "bus.pcap");
    EXPECT_EQ(options.port, 1973);
    EXPECT_EQ(options.csvFile, "bus.csv");
    EXPECT_EQ(options.pcapFile, "bus.pcap2");
    EXPECT_EQ(options.rotation.maxBytes, 10000u);
    EXPECT_EQ(options.rotation.maxFiles, kDefaultRingFiles);
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.stats);

    EXPECT_EQ(
        parseDumpOptions({"--csv=x", "--rotate-size=2.5", "--ring-files=1"}).rotation.maxFiles, 1);
    EXPECT_EQ(parseDumpOptions({"-w", "x", "-C", "2.5"}).rotation.maxBytes, 2500000u);
}

TEST(DumpOptions, RefusesBadValues) {
    const std::vector<std::vector<std::string>> bad{
        {"-p", "0"},
        {"-p", "abc"},
        {"-p", "973x"},
        {"--csv", "x", "-C", "-1"},
        {"--csv", "x", "-C", "nan"},
        {"--csv", "x", "-C", "1", "-W", "0"},
        {"--stats=yes"},
        {"-i"},
        {"bus.pcap"},
    };
    for (const std::vector<std::string>& arguments : bad) {
        try {
            parseDumpOptions(arguments);
            ADD_FAILURE() << "accepted " << arguments[0];
        } catch (const DumpError& error) {
            EXPECT_EQ(error.code(), ExitCode::Usage);
        }
    }
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"", ""},
        {"Тирон: ТИ цикл", "Тирон: ТИ цикл"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"line\r\nbreak", "\"line\r\nbreak\""},
        {"lf\nonly", "\"lf\nonly\""},
        {"tab\there", "tab\there"},
    };
    for (const auto& [field, expected] : cases) {
        std::string out;
        appendCsvField(field, out);
        EXPECT_EQ(out, expected);
    }
}

TEST(TextLine, EscapesWhatCouldSplitALine) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"Ларта-К:  Привет", "Ларта-К:  Привет"},
        {"a\tb", "a\\x09b"},
        {"a\r\nb", "a\\x0D\\x0Ab"},
        {"\x1B[31m", "\\x1B[31m"},
        {"del\x7F", "del\\x7F"},
        {"C:\\x09", "C:\\\\x09"},
    };
    for (const auto& [text, expected] : cases) {
        std::string out;
        appendEscaped(text, out);
        EXPECT_EQ(out, expected);
    }
}

}  // namespace
}  // namespace qvlink::dump
