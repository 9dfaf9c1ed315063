#include "live_bridge.h"

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

LiveBridge::LiveBridge(const std::string& dumpPath, const std::string& brokerUrl, bool raw) {
    std::vector<std::string> argv{dumpPath, "-i",     "lo",     "-p", std::to_string(busPort()),
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
