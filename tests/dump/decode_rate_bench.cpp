// Decode rate of `qvlink-dump -r` and of tshark with the Lua dissector on the same
// 1,000,000-datagram capture. Run by hand: dump_decode_rate [datagrams] [folder]

#include <pcap/pcap.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "dump/bus_corpus.h"
#include "process/child_process.h"

namespace {

using qvlink::test::Bytes;

/// A bus-like mix: cyclic TS and TI reports of several items, sporadic reports, the odd
/// text message and malformed datagram, from 50 devices with running sequence numbers.
void writeCapture(const std::string& path, long count) {
    qvlink::test::CaptureFile file(path, DLT_EN10MB);
    std::mt19937 random(973);
    std::vector<std::uint8_t> sequence(50, 0);
    // FA CE type address[3] sequence class subtype, then the items.
    const Bytes cyclicTs{0xFA, 0xCE, 16, 0, 0, 0, 0, 2, 2, 1, 0, 1, 2, 0, 0,
                         3,    0,    5,  4, 0, 6, 5, 0, 1, 6, 0, 0, 7, 0, 1};
    const Bytes cyclicTi{0xFA, 0xCE, 1, 0, 0,    0,    0,    1,    2, 1, 0, 0, 0, 0,    0xC0,
                         0x3F, 2,    0, 0, 0x5A, 0x20, 0xF1, 0x47, 3, 0, 0, 0, 0, 0x20, 0xC0};
    const Bytes sporadicTi{0xFA, 0xCE, 1,    0,    0,    0,    0,    1,    3,    9,    0,   8,
                           0x66, 0x66, 0xF6, 0x42, 0x10, 0x27, 0x1E, 0x0C, 0x0F, 0x06, 0x18};
    const Bytes sporadicTs{0xFA, 0xCE, 17, 0, 0, 0, 0, 2, 3, 12, 0, 1};
    const Bytes text{0xFA, 0xCE, 18, 0, 0, 0, 0, 6, 0, 0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 0};
    const Bytes malformed{0xFA, 0xCF, 1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<const Bytes*> kinds{&cyclicTs,   &cyclicTs,   &cyclicTi, &cyclicTi,
                                          &sporadicTi, &sporadicTs, &text,     &malformed};
    timeval time = qvlink::test::corpusStart();
    for (long i = 0; i < count; ++i) {
        const std::size_t device = random() % sequence.size();
        Bytes datagram = *kinds[random() % kinds.size()];
        if (datagram[1] == 0xCE) {
            datagram[5] = static_cast<std::uint8_t>(device);
            datagram[6] = sequence[device]++;
        }
        qvlink::test::UdpEndpoints endpoints;
        endpoints.sourceIp = qvlink::test::ipv4(10, 0, 0, static_cast<std::uint8_t>(device + 1));
        time = qvlink::test::later(time, 1);
        file.addDatagram(time, datagram, endpoints);
    }
}

struct Timing {
    double wall = -1.0;  ///< seconds; negative when the command failed
    double cpu = 0.0;    ///< user + system seconds of the command and its children
};

double cpuSecondsOfChildren() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// Runs a command with its output to /dev/null. The machine may be shared: CPU time says
/// more than wall time there.
Timing timeCommand(const std::string& command) {
    const double cpuBefore = cpuSecondsOfChildren();
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system((command + " > /dev/null 2>&1").c_str());
    const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - start;
    Timing timing;
    timing.cpu = cpuSecondsOfChildren() - cpuBefore;
    timing.wall = status == 0 ? taken.count() : -1.0;
    return timing;
}

void report(const char* name, long count, const Timing& timing) {
    if (timing.wall < 0) {
        std::printf("%-42s failed\n", name);
        return;
    }
    std::printf("%-42s %8.2f s wall %10.0f datagrams/s  %8.2f s CPU %10.0f datagrams/s\n", name,
                timing.wall, count / timing.wall, timing.cpu, count / timing.cpu);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::stol(argv[1]) : 1000000;
    const std::filesystem::path folder =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    const std::string capture = (folder / "qvlink-decode-rate.pcap").string();

    writeCapture(capture, count);
    std::printf("%ld datagrams, %ju bytes: %s\n", count,
                static_cast<std::uintmax_t>(std::filesystem::file_size(capture)), capture.c_str());
    std::fflush(stdout);

    report("qvlink-dump -r", count,
           timeCommand(std::string("LC_ALL=C TZ=UTC ") + QVLINK_DUMP_BINARY + " -r " + capture));
    report("qvlink-dump -r --csv", count,
           timeCommand(std::string("LC_ALL=C TZ=UTC ") + QVLINK_DUMP_BINARY + " -q -r " + capture +
                       " --csv /dev/null"));
    if (std::system("command -v tshark > /dev/null 2>&1") == 0) {
        const std::string home = (folder / "qvlink-decode-rate-home").string();
        std::filesystem::create_directories(home);
        report("tshark -X lua_script:qvlink.lua -r", count,
               timeCommand("HOME=" + home + " tshark -n -X lua_script:" + QVLINK_DISSECTOR +
                           " -r " + capture));
        report("tshark -r (no dissector, for reference)", count,
               timeCommand("HOME=" + home + " tshark -n -r " + capture));
        std::filesystem::remove_all(home);
    } else {
        std::printf("tshark not installed: dissector not measured\n");
    }
    std::filesystem::remove(capture);
    return 0;
}
