#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/dispatcher.h"
#include "net/udp_binding.h"

namespace qvlink {

class UdpListener;

/// UDP endpoint: binds its bindings, hands every received datagram to `OnUDPRead`, and sends
/// datagrams from the first binding's socket.
///
/// Configuration, activation, stop and `SendDatagram` belong to the owner thread (the GUI thread
/// of the monitor). With `ThreadedEvent` false that thread watches the sockets through the
/// dispatcher and the handler runs there: one wake-up delivers every datagram already waiting
/// (at most kMaxDatagramsPerWakeup or kMaxDrainTime, so timers and painting keep running), in
/// arrival order, each after the previous handler has returned. With `ThreadedEvent` true a
/// listener thread of the endpoint's own watches the sockets and calls the handler itself; the
/// handler must then not stop or destroy the endpoint.
///
/// Failures raise TransportError with the user-visible message. Nothing from the receive side
/// ever reaches the user: datagrams longer than `BufferSize` and empty ones are dropped whole, a
/// failing receive is retried after a short pause, and a handler that throws loses its datagram.
class UdpServer {
public:
    /// `data` is the datagram (1..BufferSize bytes) and `binding` the binding it arrived on, with
    /// SenderIP and SenderPort set; both are valid only during the call.
    using ReadHandler = std::function<void(UdpServer& sender, std::span<const std::uint8_t> data,
                                           const UdpBinding& binding)>;

    static constexpr int kDefaultBufferSize = 8192;
    /// Requested kernel receive buffer: a burst then waits in the socket instead of being lost.
    static constexpr int kDefaultReceiveBufferRequest = 4 * 1024 * 1024;
    static constexpr int kMaxDatagramsPerWakeup = 256;
    static constexpr int kMaxDrainTimeMs = 4;
    /// A wake-up that found fewer than kTrickleDatagrams datagrams is followed by a pause of
    /// kTrickleGatheringMs, during which the next ones gather in the socket: light traffic is then
    /// taken a few at a time, 10 ms late at most, instead of waking the thread for every datagram.
    static constexpr int kTrickleDatagrams = 32;
    static constexpr int kTrickleGatheringMs = 10;

    /// `dispatcher` watches the sockets on the owner thread; it must outlive the endpoint.
    explicit UdpServer(Dispatcher& dispatcher);
    /// Stops the endpoint.
    ~UdpServer();
    UdpServer(const UdpServer&) = delete;
    UdpServer& operator=(const UdpServer&) = delete;

    /// Port that each binding added afterwards starts with, and the port of the binding added at
    /// activation when there is none.
    void setDefaultPort(int port) { m_defaultPort = port; }
    int defaultPort() const { return m_defaultPort; }

    /// Receive buffer size in bytes, fixed at activation; longer datagrams are dropped.
    void setBufferSize(int bytes) { m_bufferSize = bytes; }
    int bufferSize() const { return m_bufferSize; }

    /// Permission to send to broadcast addresses, applied to every bound socket (at once when
    /// active; a failure then raises the socket error message).
    void setBroadcastEnabled(bool enabled);
    bool broadcastEnabled() const { return m_broadcastEnabled; }

    /// Takes effect at the next activation, as do the handler and the buffer sizes.
    void setThreadedEvent(bool threaded) { m_threadedEvent = threaded; }
    bool threadedEvent() const { return m_threadedEvent; }

    void setOnUDPRead(ReadHandler handler) { m_onUDPRead = std::move(handler); }

    /// A datagram as the socket gave it, before the endpoint decides whether to deliver it.
    /// Addresses and ports are in host byte order; `kept` is valid only during the call.
    struct Arrival {
        std::span<const std::uint8_t> kept;  ///< the bytes received, at most BufferSize
        std::size_t length = 0;  ///< true length, beyond `kept` when it did not fit the buffer
        std::uint32_t senderIp = 0;
        std::uint16_t senderPort = 0;
        std::uint32_t localIp = 0;  ///< the binding's address (0 for every interface)
        std::uint16_t localPort = 0;
    };
    using ArrivalTap = std::function<void(const Arrival& arrival)>;
    /// Sees every datagram received, the empty and oversized ones that the endpoint discards
    /// included, on the thread that delivers, just before `OnUDPRead` would get it. Must not
    /// throw. Takes effect at the next activation.
    void setArrivalTap(ArrivalTap tap) { m_arrivalTap = std::move(tap); }

    /// Kernel receive buffer to ask for at activation, in bytes (0 keeps the system default).
    /// Beyond the unprivileged limit it is forced where the process may do so.
    void setReceiveBufferRequest(int bytes) { m_receiveBufferRequest = bytes; }
    /// Kernel receive buffer actually in effect on the first binding's socket (as the kernel
    /// reports it, bookkeeping included); 0 while inactive.
    int receiveBufferSize() const;
    /// Datagrams the kernel dropped for lack of buffer space since activation, as last reported
    /// with a received datagram, over all bindings.
    std::uint64_t droppedDatagrams() const;

    /// Datagrams of one kind that the endpoint received and discarded itself.
    struct DiscardTally {
        std::uint64_t count = 0;
        std::string lastSender;  ///< dotted decimal; empty while count is 0
    };
    /// What the endpoint discarded since activation instead of handing it to `OnUDPRead`.
    struct Discards {
        DiscardTally empty;      ///< datagrams without a byte
        DiscardTally oversized;  ///< datagrams longer than BufferSize
    };
    Discards discardedDatagrams() const;

    /// Appends a binding with an empty IP and Port = DefaultPort; the reference stays valid for
    /// the endpoint's lifetime.
    UdpBinding& addBinding();
    std::size_t bindingCount() const { return m_bindings.size(); }
    UdpBinding& binding(std::size_t index) { return *m_bindings.at(index); }

    /// True while the first binding's socket is open. Setting true binds every binding and
    /// starts the listener; false stops (returns promptly, nothing is delivered after it began).
    void setActive(bool active);
    bool isActive() const { return m_current != nullptr; }

    /// Sends `count` bytes as one datagram from the first binding to host:port, activating the
    /// endpoint first if it is not active.
    void SendDatagram(std::string_view host, int port, const void* bytes, std::size_t count);

private:
    void activate();
    void stop();
    void bindSocket(UdpBinding& binding);
    void applyBroadcast();
    void closeSockets();

    Dispatcher& m_dispatcher;
    int m_defaultPort = 0;
    int m_bufferSize = kDefaultBufferSize;
    bool m_broadcastEnabled = false;
    bool m_threadedEvent = false;
    int m_receiveBufferRequest = kDefaultReceiveBufferRequest;
    ReadHandler m_onUDPRead;
    ArrivalTap m_arrivalTap;
    std::vector<std::unique_ptr<UdpBinding>> m_bindings;
    UdpBinding* m_current = nullptr;
    std::unique_ptr<UdpListener> m_listener;
};

}  // namespace qvlink
