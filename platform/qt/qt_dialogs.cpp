#include "platform/qt/qt_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace platform {
namespace {

std::unique_ptr<QMessageBox> plainBox(QMessageBox::Icon icon, const QString& title,
                                      const QString& text, QWidget* owner) {
    auto box = std::make_unique<QMessageBox>(icon, title, QString(), QMessageBox::Ok, owner);
    // Set before the text: QMessageBox would otherwise guess, and show anything that looks
    // like markup as rich text.
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

} // namespace

QString DisplayText(const std::string& message) {
    QString text = QString::fromStdString(message);
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    return text;
}

std::unique_ptr<QMessageBox> MakeInformationBox(const std::string& text, const std::string& title,
                                                QWidget* owner) {
    return plainBox(QMessageBox::NoIcon, QString::fromStdString(title),
                    QString::fromStdString(text), owner);
}

std::unique_ptr<QMessageBox> MakeErrorBox(const std::string& description, const std::string& tag,
                                          int line, QWidget* owner) {
    return plainBox(QMessageBox::Warning, "Application Error",
                    DisplayText(app::ComposeErrorMessage(description, tag, line)), owner);
}

void QtDialogs::information(const std::string& text, const std::string& title) {
    MakeInformationBox(text, title, owner_)->exec();
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
    MakeErrorBox(description, tag, line, QApplication::activeWindow())->exec();
}

} // namespace platform
