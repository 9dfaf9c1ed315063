#include "app/qt_dispatcher.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

namespace qvlink {
namespace {

class NotifierWatch final : public ReadableWatch {
public:
    NotifierWatch(int fd, std::function<void()> onReadable, QObject* parent)
        : m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, parent)),
          m_resume(new QTimer(m_notifier)) {
        m_resume->setSingleShot(true);
        QObject::connect(m_resume, &QTimer::timeout, m_notifier,
                         [notifier = m_notifier] { notifier->setEnabled(true); });
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier,
                         [call = std::move(onReadable)] { call(); });
    }

    // The watch may end inside its own call (a handler that stops the endpoint), so the
    // notifier is silenced now and deleted once that call has returned.
    ~NotifierWatch() override {
        if (m_notifier) {
            m_resume->stop();
            m_notifier->setEnabled(false);
            m_notifier->deleteLater();
        }
    }

    void pauseFor(std::chrono::milliseconds pause) override {
        m_notifier->setEnabled(false);
        m_resume->start(pause);
    }

private:
    QPointer<QSocketNotifier> m_notifier;  // gone with the dispatcher if that ends first
    QTimer* m_resume;                      // a child of the notifier
};

}  // namespace

std::unique_ptr<ReadableWatch> QtDispatcher::watchReadable(int fd,
                                                           std::function<void()> onReadable) {
    return std::make_unique<NotifierWatch>(fd, std::move(onReadable), this);
}

}  // namespace qvlink
