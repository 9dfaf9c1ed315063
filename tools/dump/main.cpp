// qvlink-dump: the QV-LINK bus in a terminal, a CSV file or a pcap file.

#include <cstdio>
#include <string>
#include <vector>

#include "dump/dump_error.h"
#include "dump/dump_options.h"
#include "dump/dump_session.h"

int main(int argc, char** argv) {
    using namespace qvlink::dump;
    try {
        const DumpOptions options =
            parseDumpOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::fputs(dumpUsage().c_str(), stdout);
            return 0;
        }
        static char outputBuffer[1 << 16];
        std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
        return static_cast<int>(runDump(options, stdout, stderr));
    } catch (const DumpError& error) {
        std::fprintf(stderr, "qvlink-dump: %s\n", error.what());
        return static_cast<int>(error.code());
    }
}
