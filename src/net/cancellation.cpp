#include "net/cancellation.h"

#include <sys/eventfd.h>

#include <cerrno>

#include "net/socket_error.h"

namespace qvlink {

Cancellation::Cancellation() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_fd) {
        throwSocketError(errno);
    }
}

void Cancellation::cancel() {
    if (m_cancelled.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    const eventfd_t one = 1;
    // The counter cannot overflow from a single write, so this only fails on a closed fd.
    static_cast<void>(eventfd_write(m_fd.get(), one));
}

}  // namespace qvlink
