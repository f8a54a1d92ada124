// Looking at a message box as the user sees it, for the tests of the boxes the program
// shows: its texts, the format its label draws them in, its icon, buttons and modality.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>

namespace message_box_probe {

struct SeenBox {
    QString title;
    QString text;
    Qt::TextFormat boxFormat = Qt::AutoText;
    Qt::TextFormat labelFormat = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    QMessageBox::StandardButtons standard;
    Qt::WindowModality modality = Qt::NonModal;
};

inline SeenBox inspect(QMessageBox& box) {
    SeenBox seen;
    seen.title = box.windowTitle();
    seen.text = box.text();
    seen.boxFormat = box.textFormat();
    // What the box actually draws the text with.
    if (const auto* label = box.findChild<QLabel*>("qt_msgbox_label"))
        seen.labelFormat = label->textFormat();
    seen.icon = box.icon();
    seen.buttons = static_cast<int>(box.buttons().size());
    seen.standard = box.standardButtons();
    seen.modality = box.windowModality();
    return seen;
}

// Runs show, which opens a modal box, and answers the box with OK once it is up.
inline std::optional<SeenBox> answerBox(const std::function<void()>& show) {
    std::optional<SeenBox> seen;
    int polls = 0;
    std::function<void()> poll = [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = inspect(*box);
            box->button(QMessageBox::Ok)->click();
        } else if (++polls < 500) {
            QTimer::singleShot(10, poll);
        }
    };
    QTimer::singleShot(0, poll);
    show();
    return seen;
}

// A name as a cache may give it: markup that must be shown as it is, never obeyed.
inline const std::string kLinkName = "<a href=\"http://example.com/\">holiday.jpg</a> <b>bold</b>";

} // namespace message_box_probe
