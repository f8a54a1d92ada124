// Writes the sample Wine prefix shipped in resources/sample-prefix: a cache index written
// by our index builder, a dozen pictures drawn here, and two short videos made with
// ffmpeg's test source (skipped when ffmpeg is absent). Usage: make_sample <prefix folder>
#include "index_builder.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <cstdlib>

namespace {

QImage drawing(int w, int h, QColor a, QColor b, int seed) {
    QImage image(w, h, QImage::Format_ARGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    p.fillRect(image.rect(), g);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 6; ++i) {
        p.setBrush(QColor::fromHsv((seed * 47 + i * 60) % 360, 160, 240, 180));
        p.drawEllipse(QPointF((seed * 31 + i * 53) % w, (seed * 17 + i * 37) % h), w / 6.0,
                      h / 6.0);
    }
    p.end();
    return image;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_sample <prefix folder>\n");
        return 2;
    }
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    const QString cache =
        prefix + "/drive_c/users/sample/AppData/Local/Microsoft/Windows/INetCache/Content.IE5";
    const std::vector<std::string> dirs = {"K3Q8ZP1A", "M7TR2XWB", "Q9LD4NVC", "Z2HF6JYD"};
    for (const auto& d : dirs)
        QDir().mkpath(cache + "/" + QString::fromStdString(d));

    QFile reg(prefix + "/user.reg");
    reg.open(QIODevice::WriteOnly);
    reg.write(
        "WINE REGISTRY Version 2\n;; A sample prefix for Tamberlin: only what the cache needs.\n\n"
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] "
        "1700000000\n"
        "\"Cache\"=\"C:"
        "\\\\users\\\\sample\\\\AppData\\\\Local\\\\Microsoft\\\\Windows\\\\INetCache\"\n");
    reg.close();

    struct Item {
        const char* url;
        const char* file;
        int dir;
        QImage image;
        const char* format; // nullptr: written otherwise
    };
    std::vector<Item> items = {
        {"http://photos.example.org/2009/sunset.jpg", "sunset[1].jpg", 0,
         drawing(640, 420, QColor(250, 120, 40), QColor(60, 20, 90), 1), "JPG"},
        {"http://photos.example.org/2009/mountains.jpg", "mountains[1].jpg", 1,
         drawing(800, 500, QColor(90, 140, 200), QColor(240, 240, 250), 2), "JPG"},
        {"http://www.example.com/news/city-at-night.jpg", "city-at-night[1].jpg", 2,
         drawing(480, 320, QColor(10, 10, 40), QColor(200, 160, 40), 3), "JPG"},
        {"http://cdn.example.net/people/Portrait.JPG", "Portrait[1].JPG", 3,
         drawing(300, 400, QColor(220, 190, 170), QColor(120, 80, 60), 4), "JPG"},
        {"http://www.example.com/logo.png", "logo[1].png", 0,
         drawing(200, 80, QColor(255, 255, 255), QColor(43, 93, 138), 5), "PNG"},
        {"http://www.example.com/stats/chart.png", "chart[1].png", 1,
         drawing(360, 240, QColor(250, 250, 250), QColor(200, 220, 200), 6), "PNG"},
        {"http://forum.example.org/badges/gold.png", "gold[1].png", 2,
         drawing(64, 64, QColor(255, 215, 0), QColor(180, 120, 0), 7), "PNG"},
        {"http://www.example.com/img/banner.bmp", "banner[1].bmp", 3,
         drawing(468, 60, QColor(30, 120, 60), QColor(200, 240, 200), 8), "BMP"},
        {"http://old.example.com/scan.bmp", "scan[1].bmp", 0,
         drawing(160, 120, QColor(240, 230, 200), QColor(160, 150, 120), 9), "BMP"},
        {"http://www.example.com/favicon.ico", "favicon[1].ico", 1,
         drawing(32, 32, QColor(43, 93, 138), QColor(217, 72, 43), 10), "ICO"},
        {"http://forum.example.org/smilies/wave.gif", "wave[1].gif", 2,
         drawing(48, 48, QColor(255, 230, 80), QColor(255, 160, 0), 11), nullptr},
        {"http://www.example.com/anim/loading.gif", "loading[1].gif", 3,
         drawing(120, 120, QColor(230, 230, 230), QColor(90, 90, 90), 12), nullptr},
    };
    testdata::IndexBuilder builder(testdata::Signature::Native, dirs);
    auto add = [&](const char* url, const char* file, int dir) {
        const QString path =
            cache + "/" + QString::fromStdString(dirs[static_cast<std::size_t>(dir)]) + "/" + file;
        testdata::Record r;
        r.url = url;
        r.fileName = file;
        r.directory = static_cast<std::uint8_t>(dir);
        r.sizeLow = static_cast<std::uint32_t>(QFileInfo(path).size());
        r.headers = "HTTP/1.1 200 OK\r\n\r\n";
        builder.add(r);
    };
    for (const Item& item : items) {
        const QString path = cache + "/" +
                             QString::fromStdString(dirs[static_cast<std::size_t>(item.dir)]) +
                             "/" + item.file;
        if (item.format) {
            item.image.save(path, item.format);
        } else {
            // Qt does not write GIF: draw a PNG and let ImageMagick convert it (under plain
            // names: ImageMagick reads "[1]" as a frame number).
            const QString png = QDir::temp().filePath("tamberlin-sample.png");
            const QString gif = QDir::temp().filePath("tamberlin-sample.gif");
            item.image.save(png, "PNG");
            std::system(
                ("convert '" + png.toStdString() + "' '" + gif.toStdString() + "'").c_str());
            QFile::remove(path);
            QFile::copy(gif, path);
            QFile::remove(png);
            QFile::remove(gif);
        }
        add(item.url, item.file, item.dir);
    }
    // Two short videos from ffmpeg's built-in test pattern.
    const QString mp4 = cache + "/Q9LD4NVC/intro[1].mp4";
    const QString avi = cache + "/Z2HF6JYD/clip[1].avi";
    if (std::system(("ffmpeg -loglevel error -y -f lavfi -i "
                     "testsrc=duration=2:size=160x120:rate=10 -pix_fmt yuv420p '" +
                     mp4.toStdString() + "'")
                        .c_str()) == 0)
        add("http://video.example.com/intro.mp4", "intro[1].mp4", 2);
    if (std::system(("ffmpeg -loglevel error -y -f lavfi -i "
                     "testsrc2=duration=2:size=160x120:rate=10 -c:v mjpeg '" +
                     avi.toStdString() + "'")
                        .c_str()) == 0)
        add("http://video.example.com/clip.avi", "clip[1].avi", 3);
    // Things that are not pictures: listed by the cache, never by Tamberlin.
    QFile page(cache + "/K3Q8ZP1A/index[1].htm");
    page.open(QIODevice::WriteOnly);
    page.write("<html><body>A page.</body></html>\n");
    page.close();
    add("http://www.example.com/", "index[1].htm", 0);

    testdata::WriteFile((cache + "/index.dat").toStdString(), builder.build());
    std::printf("sample prefix written to %s\n", argv[1]);
    return 0;
}
