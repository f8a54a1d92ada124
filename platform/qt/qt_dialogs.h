// The real message boxes and folder picker.
#pragma once

#include "platform/messages.h"

#include <QPointer>
#include <QWidget>

namespace platform {

class QtDialogs final : public Dialogs {
  public:
    void setOwner(QWidget* owner) { owner_ = owner; }
    void information(const std::string& text, const std::string& title) override;
    std::string pickFolder(const std::string& prompt) override;

  private:
    QPointer<QWidget> owner_;
};

} // namespace platform
