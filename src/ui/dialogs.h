#pragma once

// The program's modal boxes behind one seam: the windows ask through these functions, the
// program shows real dialogs, and tests answer or record instead.

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

#include "ui/error_display.h"

namespace qvlink {

/// Initial file name, remembered choice and filter of a save dialog.
struct SaveDialogSettings {
    QString fileName;          ///< proposed name; the last chosen one after a save
    QString defaultExtension;  ///< added to a name typed without one
    QString filter;            ///< one entry: its description and the pattern it matches
    QString pattern;
};

struct Dialogs {
    /// Error box (the default exception display).
    ErrorPresenter error = showErrorBox;
    /// Information box with an OK button.
    std::function<void(QWidget* parent, const QString& message)> info;
    /// Input box: returns the edited text on OK and `initial` on Cancel.
    std::function<QString(QWidget* parent, const QString& prompt, const QString& initial,
                          int maxLength)>
        inputText;
    /// Save dialog: the chosen full path, or nothing when cancelled.
    std::function<std::optional<QString>(QWidget* parent, const SaveDialogSettings& settings)>
        saveFileName;

    /// The real modal boxes of the program.
    static Dialogs modal();
};

}  // namespace qvlink
