#include "live_bridge.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <stdexcept>

#include "process/child_process.h"

namespace qvlink::bench {
namespace {

using namespace std::chrono_literals;

bool saysAll(ChildProcess& dump, std::initializer_list<const char*> needles) {
    return dump.waitFor(
        [needles](const std::string&, const std::string& err) {
            for (const char* needle : needles) {
                if (err.find(needle) == std::string::npos) {
                    return false;
                }
            }
            return true;
        },
        10s);
}

}  // namespace

UniqueFd boundLoopback(int type, std::uint16_t& port) {
    UniqueFd fd(::socket(AF_INET, type, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd.get() < 0 ||
        ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no free loopback port");
    }
    port = ntohs(address.sin_port);
    return fd;
}

LiveBridge::LiveBridge(const std::string& dumpPath, const std::string& brokerUrl, bool raw)
    : m_sink(boundLoopback(SOCK_DGRAM, m_busPort)) {
    std::vector<std::string> argv{dumpPath, "-i",     "lo",     "-p", std::to_string(m_busPort),
                                  "-q",     "--mqtt", brokerUrl};
    if (raw) {
        argv.push_back("--mqtt-raw");
    }
    m_dump = std::make_unique<ChildProcess>(argv);
    if (!saysAll(*m_dump, {"capturing on", "connected to broker"})) {
        throw std::runtime_error("qvlink-dump did not start publishing:\n" + m_dump->err());
    }
}

LiveBridge::~LiveBridge() = default;

pid_t LiveBridge::pid() const {
    return m_dump->pid();
}

std::string LiveBridge::stop() {
    m_dump->signal(SIGINT);
    m_dump->wait(20s);
    const std::string& err = m_dump->err();
    const std::size_t summary = err.find("messages published");
    if (summary == std::string::npos) {
        return {};
    }
    const std::size_t lineStart = err.rfind('\n', summary);
    std::string line = err.substr(lineStart == std::string::npos ? 0 : lineStart + 1);
    line.erase(line.find_last_not_of('\n') + 1);
    return line;
}

}  // namespace qvlink::bench
