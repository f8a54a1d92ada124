// Opens the main window as the program does, clicks a row holding a 360 x 240 picture, then
// prints the two windows' ids ("main 0x...", "preview 0x...") and stays up until its input
// closes, for frame_check.sh to measure them from outside.
#include "app/window/form1.h"
#include "cache/scan/list_columns.h"
#include "platform/base/settings.h"
#include "platform/qt/qt_settings_backend.h"
#include "preview/window/form2.h"
#include "test_support.h"

#include <QApplication>
#include <QImage>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    testing_support::ScratchFolder folder;
    platform::QtSettingsBackend settings(QString::fromStdString(folder.str() + "/config"));
    platform::setSettingsBackend(&settings);
    testing_support::RecordingReporter reporter;

    app::Form1 form(QString::fromStdString(folder.str()));
    form.Form_Load();
    form.showCentred();

    const std::string path = folder.str() + "/picture.jpg";
    QImage picture(360, 240, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    if (!picture.save(QString::fromStdString(path), "JPG")) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    auto& list = form.list();
    const auto row = list.append("http://example.com/picture.jpg");
    list.setSubItem(row, cache::kFileNameColumn, "picture.jpg");
    list.setSubItem(row, cache::kFilePathColumn, path);
    list.select(row);
    form.ListView1_Click();

    for (const auto& r : reporter.reports)
        std::fprintf(stderr, "error report: %s %s line %d\n", r.description.c_str(), r.tag.c_str(),
                     r.line);
    if (!reporter.reports.empty() || !form.previewWindow())
        return 1;

    std::printf("main 0x%llx\npreview 0x%llx\n", static_cast<unsigned long long>(form.winId()),
                static_cast<unsigned long long>(form.previewWindow()->winId()));
    std::fflush(stdout);

    // Up until the measuring script closes our input, and never longer than a minute.
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &application, &QApplication::quit);
    QTimer::singleShot(60000, &application, &QApplication::quit);
    const int code = application.exec();
    platform::setSettingsBackend(nullptr);
    return code;
}
