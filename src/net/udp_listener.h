#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "net/dispatcher.h"
#include "net/udp_binding.h"
#include "net/udp_server.h"

namespace qvlink {

/// The receive side of an active UdpServer: the drain that receives what is waiting on the
/// bound sockets and calls the handler, run each time a socket is readable. The dispatcher's
/// thread watches the sockets and drains there; with ThreadedEvent a thread of the listener's
/// own watches them with poll() and runs the same drain.
///
/// Everything the watches and the thread touch lives in a state block they hold by
/// shared_ptr, so a drain that begins after stop finds the cancellation there and delivers
/// nothing.
class UdpListener {
public:
    struct Slot {
        int socket;
        UdpBinding* binding;
    };
    /// Who sees each received datagram: the tap every one, the handler those delivered.
    struct Handlers {
        UdpServer::ReadHandler onRead;
        UdpServer::ArrivalTap arrivalTap;
    };

    /// Allocates the receive buffers of `bufferSize` bytes and starts the watches or the
    /// thread; called on the owner thread. The sockets stay owned by the caller and must stay
    /// open until stop() has returned.
    UdpListener(UdpServer& owner, std::vector<Slot> slots, std::size_t bufferSize,
                Handlers handlers, Dispatcher& dispatcher, bool threadedEvent);
    ~UdpListener();
    UdpListener(const UdpListener&) = delete;
    UdpListener& operator=(const UdpListener&) = delete;

    /// Ends the watches, wakes the thread and waits for it to end.
    /// Called on the owner thread. Once it has begun no datagram is delivered; once it has
    /// returned no thread uses the sockets.
    void stop();

    std::uint64_t droppedDatagrams() const;
    /// Any thread may ask while the drain counts.
    UdpServer::Discards discardedDatagrams() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

}  // namespace qvlink
