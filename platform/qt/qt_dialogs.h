// The real message boxes and folder picker, and the error report's box.
#pragma once

#include "app/guard.h"
#include "platform/messages.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace platform {

class QtDialogs final : public Dialogs {
  public:
    void setOwner(QWidget* owner) { owner_ = owner; }
    void information(const std::string& text, const std::string& title) override;
    std::string pickFolder(const std::string& prompt) override;

  private:
    QPointer<QWidget> owner_;
};

// Shows the "Application Error" box: warning icon, one OK button, application-modal.
class MessageBoxReporter final : public app::ErrorReporter {
  public:
    void report(const std::string& description, const std::string& tag, int line) override;
};

// The boxes as they are shown, built without being shown. Their text is always plain:
// file names and URLs come from the cache and must never be read as markup.
std::unique_ptr<QMessageBox> MakeInformationBox(const std::string& text, const std::string& title,
                                                QWidget* owner);
std::unique_ptr<QMessageBox> MakeErrorBox(const std::string& description, const std::string& tag,
                                          int line, QWidget* owner);

// The report text as the screen shows it: each CR, or CR LF, starts a new line.
QString DisplayText(const std::string& message);

} // namespace platform
