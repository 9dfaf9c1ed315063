#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace qvlink {

/// Turns SIGTERM and SIGINT (session end, Ctrl+C in a terminal) into a call on the GUI
/// thread, so the program closes its window and stops the endpoint as when the user closes
/// it, instead of dying mid-delivery. One instance per process.
class TerminationSignals : public QObject {
public:
    explicit TerminationSignals(std::function<void()> onTerminate, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    std::function<void()> m_onTerminate;
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace qvlink
