#include "app/form1.h"
#include "app/guard.h"
#include "app/message_box_reporter.h"
#include "platform/messages.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_settings_backend.h"
#include "platform/settings.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    platform::QtSettingsBackend settings;
    platform::setSettingsBackend(&settings);
    platform::QtDialogs dialogs;
    platform::setDialogs(&dialogs);
    app::MessageBoxReporter reporter;
    app::setErrorReporter(&reporter);
    platform::setDoEvents([] { QApplication::processEvents(); });

    app::Form1 form(QApplication::applicationDirPath());
    dialogs.setOwner(&form);
    form.Form_Load();
    form.showCentred();
    return application.exec();
}
