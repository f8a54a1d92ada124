// The optional skin.
//
// SkinFramework stands in for the window's skin engine. It is driven by dispatch id, in
// the order the start-up uses: 2 load the skin file (read as a Qt style sheet), 1 option
// flags, 5 and 10 two boolean options, 3 apply the skin to a window given its native
// handle.
#pragma once

#include "app/colours/form_colours.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

class QWidget;

namespace app {

class SkinFramework final : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    QVariant Invoke(int dispid, const QVariantList& args);
    QVariant GetProperty(int dispid) const;
    void SetProperty(int dispid, const QVariant& value);

    const QString& styleSheet() const { return styleSheet_; }
    const QStringList& calls() const { return calls_; } // the operations, in order

  private:
    QString styleSheet_;
    bool loaded_ = false;
    int options_ = 0;
    bool option5_ = false;
    bool option10_ = false;
    QStringList calls_;
};

// The skin file beside the program: <program folder>/x/o.cjs.
QString SkinFilePath(const QString& programFolder);
// When the skin file is there: the window, its frames, check boxes, option buttons and
// labels take the button-face colour, and the engine loads and applies the skin. A failure
// stops it at that point and travels to the caller.
void ApplySkin(QWidget* form, SkinFramework& engine, const QString& programFolder);

} // namespace app
