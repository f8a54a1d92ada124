#include "preview/window/window_frame_qt.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace preview {

void waitUntilFramed(QWidget* window, int limitMs) {
    QPointer<QWidget> guard(window);
    const auto mapped = [&] {
        return !guard || !guard->isVisible() || !guard->windowHandle() ||
               guard->windowHandle()->isExposed();
    };
    if (mapped())
        return;
    // The window system's replies arrive as events: run a local loop over them, without
    // clicks or keys, so nothing the user does can start another command meanwhile.
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (mapped() || clock.elapsed() >= limitMs)
            loop.quit();
    });
    poll.start(2);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

app::FrameExtents frameExtents(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    if (!handle || !window->isWindow())
        return {};
    const QMargins m = handle->frameMargins();
    return {std::max(m.left(), 0), std::max(m.right(), 0), std::max(m.top(), 0),
            std::max(m.bottom(), 0)};
}

app::WindowRect outerGeometry(const QWidget* window) {
    const QRect client = window->geometry();
    return app::outerRect({client.x(), client.y(), client.width(), client.height()},
                          frameExtents(window));
}

void moveFrame(QWidget* window, app::WindowPoint outer) {
    const app::WindowPoint client = app::clientPosition(outer, frameExtents(window));
    // The client area's position, not QWidget::move(): that one relies on a frame the
    // toolkit may not have learnt yet.
    window->setGeometry(QRect(QPoint(client.x, client.y), window->size()));
}

void resizeFrame(QWidget* window, app::WindowSize outer) {
    const app::WindowSize client = app::clientSize(outer, frameExtents(window));
    window->resize(client.width, client.height);
}

} // namespace preview
