#include "platform/qt/qt_settings_backend.h"

#include "platform/base/paths.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace platform {

QtSettingsBackend::QtSettingsBackend(QString folder) : folder_(std::move(folder)) {
    if (folder_.isEmpty())
        folder_ = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString QtSettingsBackend::fileFor(const std::string& app) const {
    return folder_ + QChar(kPathSeparator) + QString::fromStdString(app) + ".ini";
}

std::optional<std::string> QtSettingsBackend::read(const std::string& app,
                                                   const std::string& section,
                                                   const std::string& key) {
    QSettings s(fileFor(app), QSettings::IniFormat);
    s.beginGroup(QString::fromStdString(section));
    const QString k = QString::fromStdString(key);
    if (!s.contains(k))
        return std::nullopt;
    return s.value(k).toString().toStdString();
}

bool QtSettingsBackend::write(const std::string& app, const std::string& section,
                              const std::string& key, const std::string& value,
                              std::string* error) {
    QDir().mkpath(folder_);
    // QSettings writes through a temporary file renamed over the old one, under a lock
    // file, and merges with what another running copy wrote meanwhile.
    QSettings s(fileFor(app), QSettings::IniFormat);
    s.setAtomicSyncRequired(true);
    s.beginGroup(QString::fromStdString(section));
    s.setValue(QString::fromStdString(key), QString::fromStdString(value));
    s.endGroup();
    s.sync();
    if (s.status() == QSettings::NoError)
        return true;
    if (error)
        *error = "could not write " + fileFor(app).toStdString();
    return false;
}

} // namespace platform
