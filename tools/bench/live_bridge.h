#pragma once

// qvlink-dump as the bench runs it: capturing a loopback bus port live and publishing what
// it captures to a broker.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "support/udp_sender.h"

namespace qvlink {
class ChildProcess;
}

namespace qvlink::bench {

class LiveBridge {
public:
    /// Starts `dumpPath -i lo -p PORT -q --mqtt brokerUrl` (with --mqtt-raw when `raw`) on a
    /// free port with a receiver of its own, and waits until the dump captures and has reached
    /// the broker. Throws std::runtime_error with the dump's words when it does not (no
    /// capture right, no broker).
    LiveBridge(const std::string& dumpPath, const std::string& brokerUrl, bool raw);
    ~LiveBridge();
    LiveBridge(const LiveBridge&) = delete;
    LiveBridge& operator=(const LiveBridge&) = delete;

    /// Where the bus traffic goes: 127.0.0.1 at this UDP port.
    std::uint16_t busPort() const { return static_cast<std::uint16_t>(m_sink.port()); }
    pid_t pid() const;
    /// Ends the dump with SIGINT; returns its summary line (messages published, dropped).
    std::string stop();

private:
    test::LoopbackUdpSocket m_sink;  // the receiver the kernel hands the bus traffic to
    std::unique_ptr<ChildProcess> m_dump;
};

}  // namespace qvlink::bench
