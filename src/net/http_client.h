#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/cancellation.h"
#include "net/http_response.h"
#include "net/tcp_connection.h"

namespace qvlink {

/// Synchronous HTTP/1.0 form-post client over plain TCP, as the devices' firmware-update entry
/// expects it. The request runs on the calling thread from connect to close, bounded by the
/// time limits of ConnectionTimeouts (connect 15 s, each wait 15 s, whole answer 20 s by
/// default). Every failure raises TransportError with the user-visible message. Only cancel()
/// may be called while another thread posts.
class HttpClient {
public:
    static constexpr char kDefaultAccept[] = "text/html, */*";
    static constexpr char kDefaultUserAgent[] = "Mozilla/3.0 (compatible; Indy Library)";

    HttpClient();
    /// Closes a connection that a failed post left open.
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    /// Accept header; not sent when empty.
    void setAccept(std::string accept) { m_accept = std::move(accept); }
    const std::string& accept() const { return m_accept; }
    /// User-Agent header; not sent when empty.
    void setUserAgent(std::string userAgent) { m_userAgent = std::move(userAgent); }
    const std::string& userAgent() const { return m_userAgent; }
    /// Local address bound before connecting; empty means any.
    void setBoundIP(std::string boundIP) { m_boundIP = std::move(boundIP); }
    const std::string& boundIP() const { return m_boundIP; }
    void setTimeouts(const ConnectionTimeouts& timeouts) { m_timeouts = timeouts; }
    const ConnectionTimeouts& timeouts() const { return m_timeouts; }

    /// Server of the last post (kept when a URL names no host) and its port.
    const std::string& host() const { return m_host; }
    int port() const { return m_port; }
    /// The answer of the last post that got as far as its header fields.
    const HttpResponse& response() const { return m_response; }
    /// True only after a post that failed on the answer's status: that connection stays open
    /// until the next post.
    bool isConnected() const { return m_connection != nullptr; }

    /// Posts `formLines` (each followed by CR LF, sent as they are) to `url` over a fresh
    /// connection and reads the whole answer, keeping the first kMaxKeptBody bytes of its body
    /// in `responseSink`. Returns normally only for a 2xx answer without a Location field; any
    /// other status fails with the status text ("404 Not Found"); redirects are not followed.
    void PostForm(std::string_view url, const std::vector<std::string>& formLines,
                  std::string& responseSink);

    /// May be called from any thread: the post in progress fails with kCancelledMessage at
    /// once, wherever it waits (name resolution aside), and so does every later post.
    void cancel() { m_cancellation.cancel(); }

private:
    void exchange(std::string_view url, const std::vector<std::string>& formLines,
                  std::string& responseSink);
    std::vector<std::string> requestLines(const std::string& target,
                                          const std::vector<std::string>& formLines) const;

    std::string m_accept = kDefaultAccept;
    std::string m_userAgent = kDefaultUserAgent;
    std::string m_boundIP;
    ConnectionTimeouts m_timeouts;
    std::string m_host;
    int m_port = 80;
    HttpResponse m_response;
    Cancellation m_cancellation;  ///< outlives the connection that watches it
    std::unique_ptr<TcpConnection> m_connection;
};

}  // namespace qvlink
