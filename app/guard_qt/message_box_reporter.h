// The error report as the program shows it: a Qt message box behind the guard's reporter
// interface. The core's guard knows nothing of Qt; only the program installs this one.
#pragma once

#include "app/guard/guard.h"

#include <QMessageBox>
#include <QString>
#include <memory>

namespace app {

// Shows the "Application Error" box: warning icon, one OK button, application-modal.
class MessageBoxReporter final : public ErrorReporter {
  public:
    void report(const std::string& description, const std::string& tag, int line) override;
};

// The box as it is shown, built without being shown. Its text is always plain: file names
// and URLs come from the cache and must never be read as markup.
std::unique_ptr<QMessageBox> MakeErrorBox(const std::string& description, const std::string& tag,
                                          int line, QWidget* owner);

// The report text as the screen shows it: each CR, or CR LF, starts a new line.
QString DisplayText(const std::string& message);

} // namespace app
