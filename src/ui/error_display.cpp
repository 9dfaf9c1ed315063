#include "ui/error_display.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace qvlink {

QString displayedErrorMessage(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar(u'.')) {
        return message + u'.';
    }
    return message;
}

void showErrorBox(QWidget* parent, const QString& message) {
    const QString title = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QMessageBox::critical(parent, title, displayedErrorMessage(message));
}

void runHandler(QWidget* parent, const std::function<void()>& handler,
                const ErrorPresenter& present) {
    try {
        handler();
    } catch (const std::exception& error) {
        present(parent, QString::fromUtf8(error.what()));
    } catch (...) {
        present(parent, QStringLiteral("Unknown error"));
    }
}

}  // namespace qvlink
