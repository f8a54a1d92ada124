#include "preview/form2.h"

#include "app/form_colours.h"
#include "app/guard.h"
#include "preview/picture_loader.h"

#include <QMouseEvent>
#include <QPainter>

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
    return qRound(pixels * 15.0 / scale_);
}
int Form2::px(double twipsValue) const {
    return qRound(twipsValue / 15.0 * scale_);
}

QSize Form2::outerSizeTwips() const {
    const QSize outer = frameGeometry().size();
    return {twips(outer.width()), twips(outer.height())};
}

void Form2::setOuterSizeTwips(double width, double height) {
    const QSize frame = frameGeometry().size() - size();
    resize(std::max(px(width) - frame.width(), 1), std::max(px(height) - frame.height(), 1));
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
        const std::string& path = list.subItem(list.selected(), 3);
        const QImage picture = LoadPicture(QString::fromStdString(path));
        form2->Picture1->setPicture(picture);
    });
    g.step(104, [&] {
        form2->show();
        form2->raise();
    });
    g.step(106, [&] {
        const QRect main = mainWindow->frameGeometry();
        form2->move(main.x() + main.width(), form2->frameGeometry().y());
    });
    g.step(108, [&] { form2->move(form2->frameGeometry().x(), mainWindow->frameGeometry().y()); });
}

} // namespace preview
