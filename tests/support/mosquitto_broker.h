#pragma once

// A real broker for tests: the system's mosquitto on a free loopback port, configured from a
// scratch folder, started, killed and started again on the same port.
//
//   QVLINK_SKIP_WITHOUT_MOSQUITTO();
//   qvlink::test::MosquittoBroker broker;
//   ... broker.url("qvlink/site-7") ...

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "process/child_process.h"
#include "support/scratch_folder.h"

/// Skips the test, saying why, where no mosquitto is installed.
#define QVLINK_SKIP_WITHOUT_MOSQUITTO()                                                    \
    do {                                                                                   \
        if (::qvlink::test::MosquittoBroker::binary().empty()) {                           \
            GTEST_SKIP() << "no mosquitto broker in /usr/sbin or on PATH (Debian package " \
                            "mosquitto); this broker test cannot run";                     \
        }                                                                                  \
    } while (false)

namespace qvlink::test {

/// 127.0.0.1 at `port`.
inline sockaddr_in loopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

/// A TCP port free on loopback a moment ago.
inline std::uint16_t freeLoopbackTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopbackAddress(0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no free loopback port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

/// Whether the broker listens with TLS, on a certificate for 127.0.0.1 from a CA of its own.
enum class BrokerTls { Off, On };

class MosquittoBroker {
public:
    /// A broker account; with any, the broker refuses anonymous clients.
    struct Account {
        std::string user;
        std::string password;
    };

    /// The broker program: /usr/sbin/mosquitto, else mosquitto on PATH; empty where neither is.
    static std::string binary() {
        if (::access("/usr/sbin/mosquitto", X_OK) == 0) {
            return "/usr/sbin/mosquitto";
        }
        const char* path = std::getenv("PATH");
        std::string_view rest = path != nullptr ? path : "";
        while (!rest.empty()) {
            const std::size_t colon = std::min(rest.find(':'), rest.size());
            const std::string candidate = std::string(rest.substr(0, colon)) + "/mosquitto";
            if (::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
            rest.remove_prefix(std::min(colon + 1, rest.size()));
        }
        return {};
    }

    explicit MosquittoBroker(std::vector<Account> accounts = {}, BrokerTls tls = BrokerTls::Off)
        : m_tls(tls == BrokerTls::On) {
        m_port = freeLoopbackTcpPort();
        if (m_tls) {
            makeCertificates();
        }
        writeConfig(accounts);
        start();
    }
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    std::uint16_t port() const { return m_port; }
    pid_t pid() const { return m_process->pid(); }
    /// "mqtt://127.0.0.1:<port>/<prefix>" (mqtts:// with TLS).
    std::string url(std::string_view prefix) const {
        return (m_tls ? "mqtts://127.0.0.1:" : "mqtt://127.0.0.1:") + std::to_string(m_port) + "/" +
               std::string(prefix);
    }
    /// With TLS: the authority that signed the broker's certificate, and one that did not.
    std::string caFile() const { return m_folder + "/ca.crt"; }
    std::string otherCaFile() const { return m_folder + "/other-ca.crt"; }
    const std::string& folder() const { return m_folder; }

    /// Ends the broker as a crash would (SIGKILL): no goodbye to its clients.
    void kill() {
        if (m_process) {
            m_process->signal(SIGKILL);
            m_process->wait(std::chrono::seconds(5));
            m_process.reset();
        }
    }

    /// Starts the broker (again) on its port and waits until it accepts connections.
    void start() {
        m_process = std::make_unique<ChildProcess>(
            std::vector<std::string>{binary(), "-c", m_folder + "/mosquitto.conf"});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!accepts()) {
            if (m_process->finished() || std::chrono::steady_clock::now() > deadline) {
                throw std::runtime_error("mosquitto did not start on port " +
                                         std::to_string(m_port) + ": " + m_process->err());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    bool accepts() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in address = loopbackAddress(m_port);
        const bool connected =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return connected;
    }

    void openssl(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"openssl"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const ProcessResult result = runProcess(argv);
        if (result.exitCode != 0) {
            throw std::runtime_error("openssl failed: " + result.err);
        }
    }

    /// A CA, a certificate it signs for 127.0.0.1, and a CA that signs nothing (EC keys:
    /// quick to make).
    void makeCertificates() {
        const std::string dir = m_folder + "/";
        const std::vector<std::string> newKey{"-newkey", "ec", "-pkeyopt",
                                              "ec_paramgen_curve:prime256v1", "-nodes"};
        for (const char* ca : {"ca", "other-ca"}) {
            std::vector<std::string> arguments{
                "req", "-x509", "-days", "2", "-subj", "/CN=qvlink test " + std::string(ca)};
            arguments.insert(arguments.end(), newKey.begin(), newKey.end());
            arguments.insert(arguments.end(),
                             {"-keyout", dir + ca + ".key", "-out", dir + ca + ".crt"});
            openssl(arguments);
        }
        std::vector<std::string> request{
            "req",  "-subj",           "/CN=127.0.0.1", "-keyout", dir + "server.key",
            "-out", dir + "server.csr"};
        request.insert(request.end(), newKey.begin(), newKey.end());
        openssl(request);
        std::ofstream(dir + "server.ext") << "subjectAltName=IP:127.0.0.1\n";
        openssl({"x509", "-req", "-days", "2", "-in", dir + "server.csr", "-CA", dir + "ca.crt",
                 "-CAkey", dir + "ca.key", "-CAcreateserial", "-extfile", dir + "server.ext",
                 "-out", dir + "server.crt"});
    }

    void writeConfig(const std::vector<Account>& accounts) {
        std::ofstream config(m_folder + "/mosquitto.conf");
        // Run as root, the broker would otherwise become user "mosquitto", who may not read
        // the scratch folder.
        const passwd* self = ::getpwuid(::geteuid());
        config << "user " << (self != nullptr ? self->pw_name : "root") << '\n'
               << "listener " << m_port << " 127.0.0.1\n"
               << "persistence false\n"
               << "log_dest stderr\n"
               << "log_type error\n"
               << "log_type warning\n";
        if (m_tls) {
            config << "cafile " << m_folder << "/ca.crt\n"
                   << "certfile " << m_folder << "/server.crt\n"
                   << "keyfile " << m_folder << "/server.key\n";
        }
        if (accounts.empty()) {
            config << "allow_anonymous true\n";
            return;
        }
        const std::string passwords = m_folder + "/passwords";
        {
            std::ofstream file(passwords);
            for (const Account& account : accounts) {
                file << account.user << ':' << account.password << '\n';
            }
        }
        // Hashes the plain file in place, so that no password is on a command line.
        if (runProcess({"mosquitto_passwd", "-U", passwords}).exitCode != 0) {
            throw std::runtime_error("mosquitto_passwd could not hash the test accounts");
        }
        config << "allow_anonymous false\n"
               << "password_file " << passwords << '\n';
    }

    bool m_tls;
    ScratchDirectory m_scratch;  // outlives the broker, which ends first
    const std::string m_folder = m_scratch.path();
    std::uint16_t m_port = 0;
    std::unique_ptr<ChildProcess> m_process;
};

}  // namespace qvlink::test
