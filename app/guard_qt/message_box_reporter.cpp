#include "app/guard_qt/message_box_reporter.h"

#include <QApplication>

namespace app {

QString DisplayText(const std::string& message) {
    QString text = QString::fromStdString(message);
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    return text;
}

std::unique_ptr<QMessageBox> MakeErrorBox(const std::string& description, const std::string& tag,
                                          int line, QWidget* owner) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, "Application Error", QString(),
                                             QMessageBox::Ok, owner);
    // Set before the text: QMessageBox would otherwise guess, and show anything that looks
    // like markup as rich text.
    box->setTextFormat(Qt::PlainText);
    box->setText(DisplayText(ComposeErrorMessage(description, tag, line)));
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

void MessageBoxReporter::report(const std::string& description, const std::string& tag, int line) {
    MakeErrorBox(description, tag, line, QApplication::activeWindow())->exec();
}

} // namespace app
