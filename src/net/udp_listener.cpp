#include "net/udp_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "common/unique_fd.h"
#include "net/host_address.h"
#include "net/socket_error.h"

namespace qvlink {
namespace {

using std::chrono::milliseconds;

/// Pause after a receive or wait failure, so a persistent error cannot spin the CPU.
constexpr milliseconds kFailurePause{50};
/// Datagrams taken from a socket by one receive call. Each is still handed over on its own;
/// the batch only saves system calls, which dominate the cost of a small datagram.
constexpr int kReceiveBatch = 64;

/// Room for the drop counter that the kernel attaches to every received datagram.
constexpr std::size_t kControlSize = CMSG_SPACE(sizeof(std::uint32_t));

/// Outcome of one batch receive: datagrams taken, or why none were.
enum class Receipt { Received, QueueEmpty, Failed };

/// Datagrams of one kind discarded by the drain, counted where another thread may read them.
struct DiscardCounter {
    std::atomic<std::uint64_t> count{0};
    std::atomic<std::uint32_t> lastSender{0};  ///< network byte order

    void note(const sockaddr_in& sender) {
        lastSender.store(sender.sin_addr.s_addr, std::memory_order_relaxed);
        count.fetch_add(1, std::memory_order_release);
    }
    UdpServer::DiscardTally tally() const {
        const std::uint64_t seen = count.load(std::memory_order_acquire);
        if (seen == 0) {
            return {};
        }
        return {seen, addressText(in_addr{lastSender.load(std::memory_order_relaxed)})};
    }
};

/// What one drain did.
struct DrainResult {
    int received = 0;
    bool failed = false;
};

}  // namespace

struct UdpListener::State {
    State(UdpServer& owner, std::vector<Slot> slots, std::size_t bufferSize, Handlers handlers)
        : owner(owner),
          slots(std::move(slots)),
          handler(std::move(handlers.onRead)),
          arrivalTap(std::move(handlers.arrivalTap)),
          localAddresses(this->slots.size()),
          bufferSize(bufferSize),
          buffer(bufferSize * kReceiveBatch),
          waiting(this->slots.size()),
          drops(this->slots.size()) {
        for (int i = 0; i < kReceiveBatch; ++i) {
            vectors[i] = {buffer.data() + bufferSize * static_cast<std::size_t>(i), bufferSize};
        }
        for (std::size_t i = 0; i < this->slots.size(); ++i) {
            socklen_t length = sizeof(sockaddr_in);
            getsockname(this->slots[i].socket, reinterpret_cast<sockaddr*>(&localAddresses[i]),
                        &length);
        }
    }

    void runWatchedDrain();
    void run();
    void waitUnlessStopped(milliseconds pause) const;
    milliseconds drainAndChoosePause();
    DrainResult drain();
    Receipt receiveBatch(std::size_t index, int wanted, int& received);
    void deliver(std::size_t index, int message);
    void showArrival(std::size_t index, int message);
    void noteDrops(std::size_t index, msghdr& message);
    bool isCancelled() const { return cancelled.load(std::memory_order_acquire); }

    UdpServer& owner;
    const std::vector<Slot> slots;
    const UdpServer::ReadHandler handler;
    const UdpServer::ArrivalTap arrivalTap;
    /// Where each socket is bound, as the tap reports it.
    std::vector<sockaddr_in> localAddresses;
    /// Readiness watches on the dispatcher's thread, one per socket; empty when the listener's
    /// own thread watches. Touched on the owner thread only.
    std::vector<std::unique_ptr<ReadableWatch>> watches;
    /// Signalled once to end the listener's own thread.
    UniqueFd wakeFd;

    // Used only by whichever thread drains (one drain at a time): kReceiveBatch receive areas
    // of bufferSize bytes, with the sender and drop counter of each.
    const std::size_t bufferSize;
    std::vector<std::uint8_t> buffer;
    std::array<iovec, kReceiveBatch> vectors{};
    std::array<sockaddr_in, kReceiveBatch> senders{};
    std::array<std::array<char, kControlSize>, kReceiveBatch> controls{};
    std::array<mmsghdr, kReceiveBatch> messages{};
    std::vector<char> waiting;

    // Kernel drop counters per socket, cumulative since the socket was created.
    std::vector<std::atomic<std::uint32_t>> drops;
    DiscardCounter emptyDiscards;
    DiscardCounter oversizedDiscards;

    std::atomic<bool> cancelled{false};
};

UdpListener::UdpListener(UdpServer& owner, std::vector<Slot> slots, std::size_t bufferSize,
                         Handlers handlers, Dispatcher& dispatcher, bool threadedEvent)
    : m_state(std::make_shared<State>(owner, std::move(slots), bufferSize, std::move(handlers))) {
    if (threadedEvent) {
        m_state->wakeFd.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!m_state->wakeFd) {
            throwSocketError(errno);
        }
        m_thread = std::thread([state = m_state] { state->run(); });
        return;
    }
    for (const Slot& slot : m_state->slots) {
        m_state->watches.push_back(
            dispatcher.watchReadable(slot.socket, [state = m_state] { state->runWatchedDrain(); }));
    }
}

UdpListener::~UdpListener() {
    stop();
}

void UdpListener::stop() {
    m_state->cancelled.store(true, std::memory_order_release);
    m_state->watches.clear();
    if (m_thread.joinable()) {
        const std::uint64_t wake = 1;
        [[maybe_unused]] const ssize_t written = write(m_state->wakeFd.get(), &wake, sizeof wake);
        m_thread.join();
    }
}

std::uint64_t UdpListener::droppedDatagrams() const {
    std::uint64_t total = 0;
    for (const auto& count : m_state->drops) {
        total += count.load(std::memory_order_relaxed);
    }
    return total;
}

UdpServer::Discards UdpListener::discardedDatagrams() const {
    return {m_state->emptyDiscards.tally(), m_state->oversizedDiscards.tally()};
}

// A watched socket is readable: the drain runs right here, on the dispatcher's thread.
void UdpListener::State::runWatchedDrain() {
    if (isCancelled()) {
        return;
    }
    const milliseconds pause = drainAndChoosePause();
    if (isCancelled() || pause == milliseconds::zero()) {  // the handler may have stopped it
        return;
    }
    for (const auto& watch : watches) {
        watch->pauseFor(pause);
    }
}

// The listener's own thread with ThreadedEvent: the same watch and drain, with poll().
void UdpListener::State::run() {
    std::vector<pollfd> watched;
    for (const Slot& slot : slots) {
        watched.push_back({slot.socket, POLLIN, 0});
    }
    watched.push_back({wakeFd.get(), POLLIN, 0});
    while (!isCancelled()) {
        const int ready = poll(watched.data(), watched.size(), -1);
        if (ready < 0) {
            waitUnlessStopped(errno == EINTR ? milliseconds::zero() : kFailurePause);
        } else if (watched.back().revents == 0) {
            waitUnlessStopped(drainAndChoosePause());
        }
    }
}

void UdpListener::State::waitUnlessStopped(milliseconds pause) const {
    if (pause > milliseconds::zero()) {
        pollfd wake{wakeFd.get(), POLLIN, 0};
        poll(&wake, 1, static_cast<int>(pause.count()));
    }
}

// Drains, then says how long watching should pause: after a failure, so that it cannot spin;
// after a light drain, briefly, so that a trickle of datagrams waits in the socket and costs
// one wake-up per interval instead of one per datagram.
milliseconds UdpListener::State::drainAndChoosePause() {
    const DrainResult result = drain();
    if (result.failed) {
        return kFailurePause;
    }
    if (result.received < UdpServer::kTrickleDatagrams) {
        return milliseconds(UdpServer::kTrickleGatheringMs);
    }
    return milliseconds::zero();
}

// Receives what is waiting, a batch per socket per pass in binding order, until every socket
// is empty or the per-wake-up bound is reached (a batch already taken is delivered whole).
DrainResult UdpListener::State::drain() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(UdpServer::kMaxDrainTimeMs);
    std::fill(waiting.begin(), waiting.end(), 1);
    std::size_t socketsWaiting = slots.size();
    int received = 0;
    bool failed = false;
    while (socketsWaiting > 0) {
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (!waiting[i]) {
                continue;
            }
            const int wanted =
                std::min(kReceiveBatch, UdpServer::kMaxDatagramsPerWakeup - received);
            int got = 0;
            const Receipt receipt = receiveBatch(i, wanted, got);
            for (int m = 0; m < got && !isCancelled(); ++m) {
                deliver(i, m);
            }
            if (isCancelled()) {
                return {received, failed};
            }
            received += got;
            // A short batch emptied the queue.
            if (receipt != Receipt::Received || got < wanted) {
                waiting[i] = 0;
                --socketsWaiting;
                failed = failed || receipt == Receipt::Failed;
            }
            if (received >= UdpServer::kMaxDatagramsPerWakeup ||
                std::chrono::steady_clock::now() >= deadline) {
                return {received, failed};
            }
        }
    }
    return {received, failed};
}

// Takes up to `wanted` datagrams without waiting. MSG_TRUNC makes each length the datagram's
// real one, so one longer than the buffer shows (the kernel discards the rest of it).
Receipt UdpListener::State::receiveBatch(std::size_t index, int wanted, int& received) {
    for (int m = 0; m < wanted; ++m) {
        msghdr& header = messages[m].msg_hdr;
        header.msg_name = &senders[m];
        header.msg_namelen = sizeof(sockaddr_in);
        header.msg_iov = &vectors[m];
        header.msg_iovlen = 1;
        header.msg_control = controls[m].data();
        header.msg_controllen = kControlSize;
        header.msg_flags = 0;
    }
    int got = 0;
    do {
        got = recvmmsg(slots[index].socket, messages.data(), static_cast<unsigned>(wanted),
                       MSG_DONTWAIT | MSG_TRUNC, nullptr);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        received = 0;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? Receipt::QueueEmpty : Receipt::Failed;
    }
    received = got;
    return Receipt::Received;
}

// Hands message `m` of the last batch to the handler unless it is empty or was longer than
// the buffer; those are counted.
void UdpListener::State::deliver(std::size_t index, int m) {
    msghdr& header = messages[m].msg_hdr;
    noteDrops(index, header);
    if (arrivalTap) {
        showArrival(index, m);
    }
    const std::size_t size = messages[m].msg_len;
    if (size == 0) {
        emptyDiscards.note(senders[m]);
        return;
    }
    if ((header.msg_flags & MSG_TRUNC) != 0 || size > bufferSize) {
        oversizedDiscards.note(senders[m]);
        return;
    }
    if (!handler) {
        return;
    }
    UdpBinding& binding = *slots[index].binding;
    binding.SenderIP = addressText(senders[m].sin_addr);
    binding.SenderPort = ntohs(senders[m].sin_port);
    try {
        handler(owner,
                std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(vectors[m].iov_base),
                                              size),
                binding);
    } catch (...) {
        // A handler failure costs its own datagram only; nothing reaches the user from here.
    }
}

void UdpListener::State::showArrival(std::size_t index, int m) {
    const std::size_t length = messages[m].msg_len;
    UdpServer::Arrival arrival;
    arrival.kept = {static_cast<const std::uint8_t*>(vectors[m].iov_base),
                    std::min(length, bufferSize)};
    arrival.length = length;
    arrival.senderIp = ntohl(senders[m].sin_addr.s_addr);
    arrival.senderPort = ntohs(senders[m].sin_port);
    arrival.localIp = ntohl(localAddresses[index].sin_addr.s_addr);
    arrival.localPort = ntohs(localAddresses[index].sin_port);
    arrivalTap(arrival);
}

void UdpListener::State::noteDrops(std::size_t index, msghdr& message) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SO_RXQ_OVFL) {
            std::uint32_t count = 0;
            std::copy_n(CMSG_DATA(header), sizeof count, reinterpret_cast<unsigned char*>(&count));
            drops[index].store(count, std::memory_order_relaxed);
        }
    }
}

}  // namespace qvlink
