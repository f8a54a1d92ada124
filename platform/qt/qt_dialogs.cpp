#include "platform/qt/qt_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace platform {

QString DisplayText(const std::string& message) {
    QString text = QString::fromStdString(message);
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    return text;
}

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

void MessageBoxReporter::report(const std::string& description, const std::string& tag, int line) {
    QMessageBox box(QMessageBox::Warning, "Application Error",
                    DisplayText(app::ComposeErrorMessage(description, tag, line)), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace platform
