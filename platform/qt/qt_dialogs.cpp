#include "platform/qt/qt_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace platform {

void QtDialogs::information(const std::string& text, const std::string& title) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title),
                    QString::fromStdString(text), QMessageBox::Ok, owner_);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

std::string QtDialogs::pickFolder(const std::string& prompt) {
    // Opens at the top of the file system with nothing preselected; folders only.
    const QString dir = QFileDialog::getExistingDirectory(
        owner_, QString::fromStdString(prompt), "/",
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (dir.isEmpty())
        return {};
    return QDir::cleanPath(QFileInfo(dir).absoluteFilePath()).toStdString();
}

} // namespace platform
