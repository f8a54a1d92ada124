// `tamberlin-window`: the main window. Started by `tamberlin` when no command-line option
// asks for a list or a save; folders given are what Retrieve reads.
#include "app/core/arguments.h"
#include "app/core/platform_choice.h"
#include "app/guard/guard.h"
#include "app/guard_qt/message_box_reporter.h"
#include "app/window/form1.h"
#include "platform/base/files.h"
#include "platform/base/messages.h"
#include "platform/base/settings.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_settings_backend.h"

#include <QApplication>

#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // Placed windows need a platform that lets the program place them: XWayland on Wayland.
    const std::string platform =
        app::ChooseQtPlatform(std::getenv("QT_QPA_PLATFORM"), std::getenv("WAYLAND_DISPLAY"),
                              std::getenv("DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
    if (!platform.empty())
        qputenv("QT_QPA_PLATFORM", platform.c_str());
    QApplication application(argc, argv);
    // Closing the terminal, Ctrl-C or a kill in the middle of a save leaves no temporary file.
    platform::RemoveTemporaryFilesOnSignal();
    platform::QtSettingsBackend settings;
    platform::setSettingsBackend(&settings);
    platform::QtDialogs dialogs;
    platform::setDialogs(&dialogs);
    app::MessageBoxReporter reporter;
    app::setErrorReporter(&reporter);
    platform::setDoEvents([] { QApplication::processEvents(); });

    // What is left of the arguments once Qt has taken its own: the folders to read.
    const std::vector<std::string> folders =
        app::FolderArguments(std::vector<std::string>(argv + 1, argv + argc));

    app::Form1 form(QApplication::applicationDirPath(), QStringLiteral(TAMBERLIN_DATA_FOLDER));
    dialogs.setOwner(&form);
    form.Form_Load();
    form.setCacheFolders(folders);
    form.showCentred();
    return application.exec();
}
