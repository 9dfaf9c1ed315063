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

/// The receive side of an active UdpServer: something that waits until a bound socket is
/// readable, and the drain that receives what is waiting and calls the handler. With the
/// handler on the dispatcher's thread, that thread watches the sockets itself if the
/// dispatcher can (the drain then runs there directly); otherwise a listener thread waits and
/// posts one drain per wake-up, blocked until it has run. With ThreadedEvent the listener
/// thread drains and calls the handler itself.
///
/// Everything the thread, the watches and the posted drains touch lives in a state block they
/// hold by shared_ptr, so a drain that runs after stop (or after the endpoint is gone) finds
/// the cancellation there and delivers nothing.
class UdpListener {
public:
    struct Slot {
        int socket;
        UdpBinding* binding;
    };

    /// Allocates the receive buffers of `bufferSize` bytes and starts the watches or the
    /// thread; called on the owner thread. The sockets stay owned by the caller and must stay
    /// open until stop() has returned.
    UdpListener(UdpServer& owner, std::vector<Slot> slots, std::size_t bufferSize,
                UdpServer::ReadHandler handler, Dispatcher& dispatcher, bool threadedEvent);
    ~UdpListener();
    UdpListener(const UdpListener&) = delete;
    UdpListener& operator=(const UdpListener&) = delete;

    /// Cancels a pending hand-over, ends the watches, wakes the thread and waits for it to end.
    /// Called on the owner thread. Once it has begun no datagram is delivered; once it has
    /// returned no thread uses the sockets.
    void stop();

    std::uint64_t droppedDatagrams() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

}  // namespace qvlink
