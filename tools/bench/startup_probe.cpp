#include "startup_probe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/fonts.h"
#include "app/main_window.h"
#include "app/termination_signals.h"
#include "common/bus_types.h"
#include "common/unique_fd.h"
#include "kernel_udp_stats.h"
#include "process/child_process.h"
#include "process_stats.h"
#include "trace/trace_window.h"

namespace qvlink::bench {
namespace {

constexpr std::int64_t kObserveLimitNs = 10'000'000'000;

double millisBetween(std::int64_t from, std::int64_t to) {
    return static_cast<double>(to - from) * 1e-6;
}

/// Notes the first paint of a widget.
class FirstPaint : public QObject {
public:
    std::int64_t at = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && at == 0) {
            at = monotonicNs();
        }
        return QObject::eventFilter(watched, event);
    }
};

// In the child between fork and exec: a network namespace of its own with loopback up.
bool enterOwnNetwork() {
    if (unshare(CLONE_NEWNET) != 0) {
        return false;
    }
    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::memcpy(request.ifr_name, "lo", 3);
    const bool up = socket >= 0 && ioctl(socket, SIOCGIFFLAGS, &request) == 0 &&
                    ((request.ifr_flags |= IFF_UP), ioctl(socket, SIOCSIFFLAGS, &request) == 0);
    close(socket);
    return up;
}

/// Sends one datagram to the bus port on loopback from inside the network namespace of `pid`.
bool sendIntoNamespaceOf(pid_t pid) {
    bool sent = false;
    std::thread sender([pid, &sent] {
        const std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
        const UniqueFd ns(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!ns || setns(ns.get(), CLONE_NEWNET) != 0) {
            return;
        }
        const UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kBusPort);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const char probe[] = "start-up probe";  // no bus magic: the monitor drops it silently
        sent = sendto(socket.get(), probe, sizeof probe, 0, reinterpret_cast<sockaddr*>(&to),
                      sizeof to) == static_cast<ssize_t>(sizeof probe);
    });
    sender.join();
    return sent;
}

}  // namespace

int runStartupProbe(int argc, char** argv) {
    const std::int64_t mainAt = monotonicNs();
    QApplication application(argc, argv);
    registerTahomaFace();
    const FormatSettings format = FormatSettings::fromSystemLocale();
    const Dialogs dialogs = Dialogs::modal();
    MonitorSettings settings;
    settings.busPort = 0;
    TFMain FMain(settings, systemLocalTime, format, dialogs);
    TFTrace FTrace(systemLocalTime, format, dialogs);
    FMain.setTraceWindow(&FTrace);
    FirstPaint paint;
    FMain.installEventFilter(&paint);
    FMain.show();
    const TerminationSignals terminationSignals([&FMain] { FMain.close(); });
    const std::int64_t constructedAt = monotonicNs();

    std::int64_t loopAt = 0;
    QTimer::singleShot(0, [&loopAt] { loopAt = monotonicNs(); });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if ((loopAt != 0 && paint.at != 0) || monotonicNs() - mainAt > kObserveLimitNs) {
            QCoreApplication::quit();
        }
    });
    watch.start(1);
    QApplication::exec();
    FMain.stopUdpServer();
    std::printf("probe main=%lld constructed=%lld loop=%lld paint=%lld\n",
                static_cast<long long>(mainAt), static_cast<long long>(constructedAt),
                static_cast<long long>(loopAt), static_cast<long long>(paint.at));
    return loopAt != 0 && paint.at != 0 ? 0 : 1;
}

std::optional<StartupTimes> measureProbeStartup(const std::string& selfPath) {
    const std::int64_t execAt = monotonicNs();
    ChildProcess probe({selfPath, "--probe-startup"});
    if (probe.wait() != 0) {
        return std::nullopt;
    }
    long long mainAt = 0;
    long long constructedAt = 0;
    long long loopAt = 0;
    long long paintAt = 0;
    const std::string& output = probe.out();
    const auto line = output.find("probe main=");
    if (line == std::string::npos ||
        std::sscanf(output.c_str() + line, "probe main=%lld constructed=%lld loop=%lld paint=%lld",
                    &mainAt, &constructedAt, &loopAt, &paintAt) != 4) {
        return std::nullopt;
    }
    return StartupTimes{millisBetween(execAt, mainAt), millisBetween(execAt, constructedAt),
                        millisBetween(execAt, loopAt), millisBetween(execAt, paintAt)};
}

std::optional<RealStartupTimes> measureRealStartup(const std::string& monitorPath,
                                                   const std::vector<std::string>& args,
                                                   std::string& why) {
    if (access(monitorPath.c_str(), X_OK) != 0) {
        why = monitorPath + " is not there";
        return std::nullopt;
    }
    const std::int64_t execAt = monotonicNs();
    std::vector<std::string> argv{monitorPath};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess monitor(argv, {}, enterOwnNetwork);
    const std::string table = "/proc/" + std::to_string(monitor.pid()) + "/net/udp";
    RealStartupTimes times;
    bool sent = false;
    while (monotonicNs() - execAt < kObserveLimitNs && !monitor.finished()) {
        const std::optional<KernelUdpStats> stats = kernelUdpStats(kBusPort, table);
        const std::int64_t now = monotonicNs();
        if (stats && !sent) {
            times.toBound = millisBetween(execAt, now);
            sent = sendIntoNamespaceOf(monitor.pid());
            if (!sent) {
                why = "cannot send into the monitor's network namespace";
                return std::nullopt;
            }
        } else if (stats && stats->receiveQueueBytes == 0) {
            // Loopback delivers during the send, so the datagram was waiting until now.
            times.toFirstLoop = millisBetween(execAt, now);
            monitor.signal(SIGTERM);
            monitor.wait();
            return times;
        }
        usleep(200);
    }
    why = monitor.finished() ? "the monitor ended early:\n" + monitor.out() + monitor.err()
                             : "no sign of the monitor's event loop within 10 s";
    return std::nullopt;
}

}  // namespace qvlink::bench
