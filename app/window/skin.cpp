#include "app/window/skin.h"

#include <QFile>
#include <QFileInfo>
#include <QWidget>
#include <stdexcept>

namespace app {

QVariant SkinFramework::Invoke(int dispid, const QVariantList& args) {
    switch (dispid) {
    case 2: { // load the skin from a file
        calls_ << "LoadSkin";
        if (args.isEmpty())
            throw std::invalid_argument("Invalid procedure call or argument");
        QFile f(args.at(0).toString());
        if (!f.open(QIODevice::ReadOnly))
            throw std::runtime_error("The skin file could not be read: " +
                                     args.at(0).toString().toStdString());
        styleSheet_ = QString::fromUtf8(f.read(4 << 20));
        loaded_ = true;
        return true;
    }
    case 3: { // apply to a window by its native handle
        calls_ << "ApplyWindow";
        if (!loaded_)
            throw std::runtime_error("No skin is loaded");
        QWidget* w =
            args.isEmpty() ? nullptr : QWidget::find(static_cast<WId>(args.at(0).toULongLong()));
        if (!w)
            throw std::runtime_error("Invalid window handle");
        w->setStyleSheet(styleSheet_);
        return {};
    }
    default:
        throw std::runtime_error("Object doesn't support this property or method");
    }
}

QVariant SkinFramework::GetProperty(int dispid) const {
    switch (dispid) {
    case 1:
        return options_;
    case 5:
        return option5_;
    case 10:
        return option10_;
    default:
        throw std::runtime_error("Object doesn't support this property or method");
    }
}

void SkinFramework::SetProperty(int dispid, const QVariant& value) {
    switch (dispid) {
    case 1:
        calls_ << "Options";
        options_ = value.toInt();
        return;
    case 5:
        calls_ << "Option5";
        option5_ = value.toBool();
        return;
    case 10:
        calls_ << "Option10";
        option10_ = value.toBool();
        return;
    default:
        throw std::runtime_error("Object doesn't support this property or method");
    }
}

QString SkinFilePath(const QString& programFolder) {
    return programFolder + "/x/o.cjs";
}

void ApplySkin(QWidget* form, SkinFramework& engine, const QString& programFolder) {
    const QString path = SkinFilePath(programFolder);
    // An ordinary file only: not a folder, not a hidden file.
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile() || info.isHidden())
        return;
    ApplyFormColours(form);
    engine.Invoke(2, {path, QString()});
    engine.SetProperty(1, engine.GetProperty(1).toInt() | 1);
    engine.SetProperty(5, true);
    engine.SetProperty(10, true);
    engine.Invoke(3, {QVariant::fromValue(static_cast<qulonglong>(form->winId()))});
}

} // namespace app
