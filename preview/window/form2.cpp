#include "preview/window/form2.h"

#include "app/colours/form_colours.h"
#include "app/guard/guard.h"
#include "cache/scan/list_columns.h"
#include "preview/window/picture_loader.h"
#include "preview/window/window_frame_qt.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <QWindow>
#include <stdexcept>

namespace preview {

PictureBox::PictureBox(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
}

void PictureBox::setPicture(const QImage& image) {
    image_ = image;
    const int border = 2 * frameWidth();
    const QSize outer(image.width() + border, image.height() + border);
    if (outer != size())
        resize(outer); // runs the resize handler before this returns
    update();
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (image_.isNull())
        return;
    QPainter p(this);
    p.drawImage(contentsRect().topLeft(), image_);
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    emit resized();
}

Form2::Form2() : QWidget(nullptr) {
    setObjectName("Form2");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Preview");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    scale_ = logicalDpiX() / 96.0;
    resize(px(3690), px(3675));
    setMouseTracking(true);
    Picture1 = new PictureBox(this);
    Picture1->setObjectName("Picture1");
    Picture1->setGeometry(px(90), px(90), px(3500), px(3500));
    // Connected after the first sizing: only pictures resize the box from here on.
    connect(Picture1, &PictureBox::resized, this, &Form2::Picture1_Resize);
}

int Form2::twips(int pixels) const {
    return app::pixelsToTwips(pixels, scale_);
}
int Form2::px(double twipsValue) const {
    return app::twipsToPixels(twipsValue, scale_);
}

QSize Form2::outerSizeTwips() const {
    const app::WindowRect outer = outerGeometry(this);
    return {twips(outer.width), twips(outer.height)};
}

void Form2::setOuterSizeTwips(double width, double height) {
    const app::WindowSize outer{px(width), px(height)};
    resizeFrame(this, outer);
    if (!framed_)
        pendingOuter_ = outer; // the frame is not known yet: sized again once it is
}

void Form2::settleFrame() {
    if (framed_)
        return; // no waiting while the window is minimized, say
    waitUntilFramed(this);
    if (!windowHandle() || !windowHandle()->isExposed())
        return; // not mapped in time: tried again on the next showing
    framed_ = true;
    if (pendingOuter_) {
        resizeFrame(this, *pendingOuter_);
        pendingOuter_.reset();
    }
}

void Form2::Form_Load(const QIcon& icon) {
    app::Guard g("in Orrery2021/08/31.Form2.Form_Load ");
    g.step(100, [&] { app::ApplyFormColours(this); });
    g.step(102, [&] { setWindowIcon(icon); });
}

void Form2::Picture1_Resize() {
    const int outerW = twips(Picture1->width());
    const int outerH = twips(Picture1->height());
    if (outerW > 3500 || outerH > 3500) {
        const int border = 2 * Picture1->frameWidth();
        setOuterSizeTwips(twips(Picture1->width() - border) + 300,
                          twips(Picture1->height() - border) + 550);
    }
}

void Form2::mouseMoveEvent(QMouseEvent* event) {
    if (cursor().shape() != Qt::WaitCursor)
        setCursor(Qt::ArrowCursor);
    QWidget::mouseMoveEvent(event);
}

void ListView1_Click(cache::FoundFileList& list, QWidget* mainWindow, QPointer<Form2>& form2,
                     const QIcon& icon) {
    app::Guard g("in Orrery2021/08/31.Form1.ListView1_Click ");
    if (!g.test(100, [&] { return list.count() > 0; }))
        return;
    g.step(102, [&] {
        if (!form2) {
            form2 = new Form2();
            form2->Form_Load(icon);
        }
        const cache::RowId row = list.selected();
        const std::string& path = list.subItem(row, cache::kFilePathColumn);
        // A browser row's picture is the body inside its entry file, not the file itself.
        const auto& body = list.row(row).body;
        const QImage picture = body ? LoadBodyPicture(*body) : LoadPicture(path);
        form2->Picture1->setPicture(picture);
    });
    // When the window could not even be created, the steps below report that instead of
    // reaching through a null pointer.
    const auto window = [&]() -> Form2* {
        if (!form2)
            throw std::runtime_error("Object variable or With block variable not set");
        return form2.data();
    };
    g.step(104, [&] {
        window();
        if (!form2->isVisible()) {
            // A window being shown appears centred on the screen first; the two moves
            // below then put it beside the main window.
            if (const QScreen* screen = form2->screen()) {
                const QRect area = screen->availableGeometry();
                const app::WindowPoint at =
                    app::centredFrame({area.x(), area.y(), area.width(), area.height()},
                                      {outerGeometry(form2).width, outerGeometry(form2).height});
                moveFrame(form2, at);
            }
        }
        form2->show();
        form2->raise();
        form2->settleFrame();
    });
    g.step(106, [&] {
        Form2* const preview = window();
        const app::WindowPoint beside = app::besideFrame(outerGeometry(mainWindow));
        moveFrame(preview, {beside.x, outerGeometry(preview).y});
    });
    g.step(108, [&] {
        Form2* const preview = window();
        moveFrame(preview, {outerGeometry(preview).x, outerGeometry(mainWindow).y});
    });
}

} // namespace preview
