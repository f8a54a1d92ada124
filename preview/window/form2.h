// The preview window: the picture of the clicked row, at its natural size.
#pragma once

#include "app/core/window_frame.h"
#include "cache/scan/found_file_list.h"

#include <QFrame>
#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace preview {

// A classic picture box: a sunken border, the picture unscaled at its top-left, and a
// size that follows the picture.
class PictureBox final : public QFrame {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget* parent = nullptr);
    void setPicture(const QImage& image);
    const QImage& picture() const { return image_; }

  signals:
    void resized();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QImage image_;
};

class Form2 final : public QWidget {
    Q_OBJECT
  public:
    Form2();

    void Form_Load(const QIcon& icon);
    void Picture1_Resize();

    // Window geometry in twips, outer frame included.
    int twips(int pixels) const;
    int px(double twips) const;
    void setOuterSizeTwips(double width, double height);
    QSize outerSizeTwips() const;

    // Once shown: waits for the window manager's frame, then gives an outer size set
    // before the frame was known to the frame it has.
    void settleFrame();

    PictureBox* Picture1 = nullptr;

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    double scale_ = 1.0;
    bool framed_ = false;
    std::optional<app::WindowSize> pendingOuter_;
};

// A click in the found-file list: shows the selected row's file in the preview window,
// creating the window on first use, then places it against the main window's right edge.
void ListView1_Click(cache::FoundFileList& list, QWidget* mainWindow, QPointer<Form2>& form2,
                     const QIcon& icon);

} // namespace preview
