// The real message boxes and folder picker.
#pragma once

#include "platform/base/messages.h"

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

// The box as it is shown, built without being shown. Its text is always plain:
// file names and URLs come from the cache and must never be read as markup.
std::unique_ptr<QMessageBox> MakeInformationBox(const std::string& text, const std::string& title,
                                                QWidget* owner);

} // namespace platform
