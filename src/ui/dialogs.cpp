#include "ui/dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace qvlink {
namespace {

QString applicationTitle() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void showInformation(QWidget* parent, const QString& message) {
    QMessageBox::information(parent, applicationTitle(), message);
}

QString askText(QWidget* parent, const QString& prompt, const QString& initial, int maxLength) {
    QInputDialog dialog(parent);
    dialog.setWindowTitle(QString());
    dialog.setLabelText(prompt);
    dialog.setTextValue(initial);
    if (auto* edit = dialog.findChild<QLineEdit*>()) {
        edit->setMaxLength(maxLength);
        edit->selectAll();
    }
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : initial;
}

std::optional<QString> askSaveFileName(QWidget* parent, const SaveDialogSettings& settings) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    // The description is shown as it stands; the pattern in the last parentheses is the one
    // the dialog lists files by.
    dialog.setNameFilter(settings.filter + " (" + settings.pattern + ")");
    dialog.setDefaultSuffix(settings.defaultExtension);
    dialog.selectFile(settings.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace

Dialogs Dialogs::modal() {
    return Dialogs{showErrorBox, showInformation, askText, askSaveFileName};
}

}  // namespace qvlink
