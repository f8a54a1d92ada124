#include "platform/qt/qt_dialogs.h"

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

std::unique_ptr<QMessageBox> MakeInformationBox(const std::string& text, const std::string& title,
                                                QWidget* owner) {
    return plainBox(QMessageBox::NoIcon, QString::fromStdString(title),
                    QString::fromStdString(text), owner);
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

} // namespace platform
