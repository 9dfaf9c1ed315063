// qvlink-capture: opens a live capture of bus traffic and writes it as a pcap stream to its
// standard output, nothing else. qvlink-dump and qvlink-sim start it for live capture, so
// that the capture right belongs to this one small program, whose filters are its own.

#include <linux/capability.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "capture/capture_filter.h"
#include "capture/helper_report.h"
#include "common/bus_types.h"

namespace {

using qvlink::capture::CaptureFilter;

/// Exit status, as the usage text lists it.
enum ExitCode : int { kOk = 0, kUsage = 1, kCapture = 2, kWrite = 3 };

constexpr int kSnapshotLength = 65535;
/// The kernel's ring for the capture, filled block by block with frames packed one after the
/// other: some 300,000 bus datagrams, several seconds of a busy bus for a helper that waits
/// for the CPU. (Immediate delivery would give each frame a slot of the snapshot length, about
/// 1000 frames in all, and lost datagrams at 50,000 a second on a busy 2-core machine.)
constexpr int kRingBytes = 64 * 1024 * 1024;
/// The longest a captured frame waits in a block that is not full, in milliseconds.
constexpr int kDeliveryMs = 2;

constexpr const char* kUsageText =
    "Usage: qvlink-capture [-i INTERFACE] [-p PORT] [-f bus|commands]\n"
    "Captures bus traffic live and writes it as a pcap stream to standard output.\n"
    "  -i INTERFACE  capture interface (default any)\n"
    "  -p PORT       UDP port of the bus (default 973)\n"
    "  -f FILTER     bus: datagrams to or from the port and IP fragments (default);\n"
    "                commands: commands sent to the port\n"
    "Ends on SIGINT or SIGTERM, or when the reader of its output goes away.\n"
    "Exit status: 0 ended, 1 bad command line, 2 capture failed, 3 output failed.\n";

volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) {
    g_stop = 1;
}

struct Options {
    std::string interface = "any";
    std::uint16_t port = qvlink::kBusPort;
    CaptureFilter filter = CaptureFilter::Bus;
};

[[noreturn]] void fail(ExitCode code, const std::string& message) {
    std::fprintf(stderr, "qvlink-capture: %s\n", message.c_str());
    std::exit(code);
}

/// Fails with `message`, made before the capture it may describe is closed.
[[noreturn]] void failCapture(pcap_t* handle, const std::string& message) {
    pcap_close(handle);
    fail(kCapture, message);
}

std::optional<std::uint16_t> parsePort(const std::string& text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help") {
            std::fputs(kUsageText, stdout);
            std::exit(kOk);
        }
        if (i + 1 >= argc || (name != "-i" && name != "-p" && name != "-f")) {
            fail(kUsage, "unknown option or missing value: " + name + "\n" + kUsageText);
        }
        const std::string value = argv[++i];
        if (name == "-i") {
            options.interface = value;
        } else if (name == "-p") {
            const std::optional<std::uint16_t> port = parsePort(value);
            if (!port) {
                fail(kUsage, "not a UDP port: " + value);
            }
            options.port = *port;
        } else {
            const std::optional<CaptureFilter> filter = qvlink::capture::filterFromName(value);
            if (!filter) {
                fail(kUsage, "unknown filter: " + value + " (bus or commands)");
            }
            options.filter = *filter;
        }
    }
    return options;
}

std::string executablePath() {
    std::array<char, 4096> path{};
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    return length > 0 ? std::string(path.data(), static_cast<std::size_t>(length))
                      : std::string("qvlink-capture");
}

std::string interfaceNames() {
    char error[PCAP_ERRBUF_SIZE];
    pcap_if_t* interfaces = nullptr;
    if (pcap_findalldevs(&interfaces, error) != 0) {
        return {};
    }
    std::string names;
    for (const pcap_if_t* i = interfaces; i != nullptr; i = i->next) {
        names += names.empty() ? "" : ", ";
        names += i->name;
    }
    pcap_freealldevs(interfaces);
    return names;
}

std::string activationError(pcap_t* handle, int status, const std::string& interface) {
    switch (status) {
        case PCAP_ERROR_PERM_DENIED: {
            const std::string self = executablePath();
            return "permission denied: live capture needs root or cap_net_raw on " + self +
                   " (as installed from the package, sudo dpkg-reconfigure qvlink-monitor lets "
                   "the members of group qvlink capture; a build: sudo setcap cap_net_raw+ep " +
                   self + ")";
        }
        case PCAP_ERROR_NO_SUCH_DEVICE:
            return "no such interface: " + interface + " (capture interfaces: " + interfaceNames() +
                   ")";
        case PCAP_ERROR_IFACE_NOT_UP:
            return "interface " + interface + " is down";
        case PCAP_ERROR:
            return "cannot capture on " + interface + ": " + pcap_geterr(handle);
        default:
            return "cannot capture on " + interface + ": " + pcap_statustostr(status);
    }
}

/// The live capture of the bus: delivery within kDeliveryMs, the filter set, reads that
/// never block.
pcap_t* openCapture(const Options& options) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_create(options.interface.c_str(), error);
    if (handle == nullptr) {
        fail(kCapture, "cannot capture on " + options.interface + ": " + error);
    }
    pcap_set_snaplen(handle, kSnapshotLength);
    pcap_set_promisc(handle, 0);
    pcap_set_timeout(handle, kDeliveryMs);
    pcap_set_buffer_size(handle, kRingBytes);
    if (const int status = pcap_activate(handle); status < 0) {
        failCapture(handle, activationError(handle, status, options.interface));
    }
    const std::string filter = qvlink::capture::filterExpression(options.filter, options.port);
    bpf_program program{};
    if (pcap_compile(handle, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0 ||
        pcap_setfilter(handle, &program) != 0) {
        pcap_freecode(&program);
        failCapture(handle, options.interface + ": cannot set filter \"" + filter +
                                "\": " + pcap_geterr(handle));
    }
    pcap_freecode(&program);
    if (pcap_setnonblock(handle, 1, error) != 0) {
        failCapture(handle, std::string("cannot capture without blocking: ") + error);
    }
    return handle;
}

/// The capture is open and filtered: from here on the process needs no right at all.
void dropCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> none{};
    if (syscall(SYS_capset, &header, none.data()) != 0) {
        fail(kCapture, "cannot give up the capture right once the capture is open");
    }
}

/// SIGINT and SIGTERM are held back except while waiting, so that none is missed between
/// a check of the stop flag and the wait. Returns the mask to wait with.
sigset_t holdStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a reader that went away is a failed write, not a death
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    return waitMask;
}

ExitCode pass(pcap_t* handle, pcap_dumper_t* dumper, const sigset_t& waitMask) {
    std::array<pollfd, 2> fds{{{pcap_get_selectable_fd(handle), POLLIN, 0},
                               {STDOUT_FILENO, 0, 0}}};  // reports the reader's going away
    while (g_stop == 0) {
        if (ppoll(fds.data(), fds.size(), nullptr, &waitMask) < 0) {
            if (errno != EINTR) {
                fail(kCapture, std::string("cannot wait for the capture: ") + std::strerror(errno));
            }
            continue;  // a stop signal
        }
        if ((fds[1].revents & (POLLERR | POLLHUP)) != 0) {
            return kOk;
        }
        if (pcap_dispatch(handle, -1, pcap_dump, reinterpret_cast<u_char*>(dumper)) < 0) {
            fail(kCapture, std::string("capture failed: ") + pcap_geterr(handle));
        }
        if (pcap_dump_flush(dumper) != 0) {
            fail(kWrite, "cannot write standard output");
        }
    }
    return kOk;
}

/// Says how many frames the kernel dropped for want of room in the ring, if any did.
void reportKernelDrops(pcap_t* handle) {
    pcap_stat stats{};
    if (pcap_stats(handle, &stats) == 0 && stats.ps_drop > 0) {
        std::fprintf(stderr, "%s\n", qvlink::capture::kernelDropsLine(stats.ps_drop).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    const sigset_t waitMask = holdStopSignals();
    pcap_t* handle = openCapture(options);
    dropCapabilities();
    pcap_dumper_t* dumper = pcap_dump_fopen(handle, stdout);
    if (dumper == nullptr || pcap_dump_flush(dumper) != 0) {
        fail(kWrite, "cannot write standard output");
    }
    const ExitCode code = pass(handle, dumper, waitMask);
    reportKernelDrops(handle);
    pcap_close(handle);
    return code;
}
