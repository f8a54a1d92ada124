#include "app/message_box_reporter.h"

#include <QApplication>
#include <QMessageBox>

namespace app {

QString DisplayText(const std::string& message) {
    QString text = QString::fromStdString(message);
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    return text;
}

void MessageBoxReporter::report(const std::string& description, const std::string& tag, int line) {
    QMessageBox box(QMessageBox::Warning, "Application Error",
                    DisplayText(ComposeErrorMessage(description, tag, line)), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace app
