#include "qt_loop_receiver.h"

#include <QSocketNotifier>
#include <memory>

#include "counting_socket.h"

namespace qvlink::bench {

QtLoopReceiver::QtLoopReceiver(int receiveBufferBytes)
    : m_socket(openCountingSocket(receiveBufferBytes, m_port)),
      m_batch(std::make_unique<ReceiveBatch>()) {
    m_notifier = new QSocketNotifier(m_socket.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
}

QtLoopReceiver::~QtLoopReceiver() {
    delete m_notifier;
}

void QtLoopReceiver::drain() {
    int got = 0;
    do {
        got = m_batch->receive(m_socket.get(), MSG_DONTWAIT);
        if (got > 0) {
            m_received += static_cast<std::uint64_t>(got);
        }
    } while (got == ReceiveBatch::kSize);
}

}  // namespace qvlink::bench
