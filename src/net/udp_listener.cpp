#include "net/udp_listener.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "net/host_address.h"
#include "net/socket_error.h"

namespace qvlink {
namespace {

/// Longest readiness wait: the stop flag is looked at at least this often even if the wake-up
/// signal were lost.
constexpr int kWaitMs = 1000;
/// Pause after a receive or wait failure, so a persistent error cannot spin the CPU.
constexpr std::chrono::milliseconds kFailurePause{50};

enum class Receipt { Consumed, QueueEmpty, Failed };

}  // namespace

struct UdpListener::State : std::enable_shared_from_this<UdpListener::State> {
    State(UdpServer& owner, std::vector<Slot> slots, std::size_t bufferSize,
          UdpServer::ReadHandler handler, Dispatcher& dispatcher, bool threadedEvent)
        : owner(owner),
          dispatcher(dispatcher),
          slots(std::move(slots)),
          handler(std::move(handler)),
          threadedEvent(threadedEvent),
          buffer(bufferSize),
          waiting(this->slots.size()),
          drops(this->slots.size()) {}

    ~State() {
        if (wakeFd >= 0) {
            close(wakeFd);
        }
    }

    void run();
    bool handOver();
    void runPostedDrain();
    bool drain();
    Receipt receiveOne(std::size_t index);
    void noteDrops(std::size_t index, msghdr& message);
    void pauseAfterFailure();
    bool isCancelled() const { return cancelled.load(std::memory_order_acquire); }

    UdpServer& owner;
    Dispatcher& dispatcher;
    const std::vector<Slot> slots;
    const UdpServer::ReadHandler handler;
    const bool threadedEvent;
    int wakeFd = -1;

    // Used only by whichever thread drains (one drain at a time).
    std::vector<std::uint8_t> buffer;
    std::vector<char> waiting;

    // Kernel drop counters per socket, cumulative since the socket was created.
    std::vector<std::atomic<std::uint32_t>> drops;

    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool drainPending = false;  // guarded by mutex
    bool drainFailed = false;   // guarded by mutex
};

UdpListener::UdpListener(UdpServer& owner, std::vector<Slot> slots, std::size_t bufferSize,
                         UdpServer::ReadHandler handler, Dispatcher& dispatcher, bool threadedEvent)
    : m_state(std::make_shared<State>(owner, std::move(slots), bufferSize, std::move(handler),
                                      dispatcher, threadedEvent)) {
    m_state->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_state->wakeFd < 0) {
        throwSocketError(errno);
    }
    m_thread = std::thread([state = m_state] { state->run(); });
}

UdpListener::~UdpListener() {
    stop();
}

void UdpListener::stop() {
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->cancelled.store(true, std::memory_order_release);
    }
    m_state->changed.notify_all();
    const std::uint64_t wake = 1;
    [[maybe_unused]] const ssize_t written = write(m_state->wakeFd, &wake, sizeof wake);
    if (m_thread.joinable()) {
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

void UdpListener::State::run() {
    std::vector<pollfd> watched;
    for (const Slot& slot : slots) {
        watched.push_back({slot.socket, POLLIN, 0});
    }
    watched.push_back({wakeFd, POLLIN, 0});

    while (!isCancelled()) {
        const int ready = poll(watched.data(), watched.size(), kWaitMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) {
            continue;
        }
        if (ready < 0) {
            pauseAfterFailure();
            continue;
        }
        if (watched.back().revents != 0) {
            break;  // woken to stop
        }
        const bool failed = threadedEvent ? drain() : handOver();
        if (failed) {
            pauseAfterFailure();
        }
    }
}

// Posts one drain to the dispatcher's thread and blocks until it has run or the endpoint stops.
bool UdpListener::State::handOver() {
    {
        const std::lock_guard lock(mutex);
        drainPending = true;
        drainFailed = false;
    }
    dispatcher.post([state = shared_from_this()] { state->runPostedDrain(); });
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return !drainPending || isCancelled(); });
    return drainFailed;
}

void UdpListener::State::runPostedDrain() {
    const bool failed = isCancelled() ? false : drain();
    {
        const std::lock_guard lock(mutex);
        drainPending = false;
        drainFailed = failed;
    }
    changed.notify_all();
}

// Receives what is waiting, one datagram per socket per pass in binding order, until every
// socket is empty or the per-wake-up bound is reached. Returns true if a receive failed.
bool UdpListener::State::drain() {
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
            if (isCancelled()) {
                return failed;
            }
            const Receipt receipt = receiveOne(i);
            if (receipt != Receipt::Consumed) {
                waiting[i] = 0;
                --socketsWaiting;
                failed = failed || receipt == Receipt::Failed;
                continue;
            }
            if (++received >= UdpServer::kMaxDatagramsPerWakeup ||
                std::chrono::steady_clock::now() >= deadline) {
                return failed;
            }
        }
    }
    return failed;
}

// Receives one datagram without waiting and delivers it unless it is empty or longer than the
// buffer (MSG_TRUNC reports its real length; the rest of it is discarded by the kernel).
Receipt UdpListener::State::receiveOne(std::size_t index) {
    const Slot& slot = slots[index];
    sockaddr_in from{};
    iovec data{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;

    ssize_t size = 0;
    do {
        size = recvmsg(slot.socket, &message, MSG_DONTWAIT | MSG_TRUNC);
    } while (size < 0 && errno == EINTR);
    if (size < 0) {
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? Receipt::QueueEmpty : Receipt::Failed;
    }
    noteDrops(index, message);
    const bool truncated = (message.msg_flags & MSG_TRUNC) != 0;
    if (size == 0 || truncated || static_cast<std::size_t>(size) > buffer.size() || !handler ||
        isCancelled()) {
        return Receipt::Consumed;
    }
    UdpBinding& binding = *slot.binding;
    binding.SenderIP = addressText(from.sin_addr);
    binding.SenderPort = ntohs(from.sin_port);
    try {
        handler(owner, std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(size)),
                binding);
    } catch (...) {
        // A handler failure costs its own datagram only; nothing reaches the user from here.
    }
    return Receipt::Consumed;
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

void UdpListener::State::pauseAfterFailure() {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, kFailurePause, [this] { return isCancelled(); });
}

}  // namespace qvlink
