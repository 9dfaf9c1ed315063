#pragma once

#include <QString>
#include <QWidget>
#include <exception>
#include <functional>

namespace qvlink {

/// The message as the error box shows it: a "." is appended when the last character's code
/// is above that of the full stop (so "Access denied." stays, "Cannot Create file x" ends
/// with a full stop).
QString displayedErrorMessage(const QString& message);

/// Shows an error box: the program's base name as title, the message, an error icon, OK.
using ErrorPresenter = std::function<void(QWidget* parent, const QString& message)>;

/// The modal error box of the program.
void showErrorBox(QWidget* parent, const QString& message);

/// Runs an event handler; an exception that leaves it is shown through `present` (the error
/// box by default) and goes no further, so nothing escapes into Qt's event loop.
void runHandler(QWidget* parent, const std::function<void()>& handler,
                const ErrorPresenter& present = showErrorBox);

}  // namespace qvlink
