#pragma once

// A third reference: a receiver that only counts, woken by the GUI thread's own Qt event loop
// as the monitor's endpoint is (a socket notifier, batches of up to 64 per receive call). Its
// cost is what receiving through that loop costs on this machine before any datagram is looked
// at, so the monitor's figures beside it show the monitor's own work.

#include <QObject>
#include <cstdint>
#include <memory>

#include "common/unique_fd.h"

class QSocketNotifier;

namespace qvlink::bench {

class ReceiveBatch;

class QtLoopReceiver : public QObject {
public:
    explicit QtLoopReceiver(int receiveBufferBytes);
    ~QtLoopReceiver() override;

    int port() const { return m_port; }
    std::uint64_t received() const { return m_received; }

private:
    void drain();

    int m_port = 0;
    UniqueFd m_socket;
    std::unique_ptr<ReceiveBatch> m_batch;
    std::uint64_t m_received = 0;
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace qvlink::bench
