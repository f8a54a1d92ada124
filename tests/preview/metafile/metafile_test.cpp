#include "metafile_samples.h"
#include "preview/metafile/metafile.h"
// Damaged and costly pictures also go through the loader, as the preview sends them: it
// hands metafiles to the renderer by their contents.
#include "preview/window/picture_loader.h"

#include <QImage>
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>
#include <string>

using namespace preview;

namespace {

// The message a failed drawing gives, "" when it drew.
std::string failure(const std::function<QImage()>& load) {
    try {
        load();
        return {};
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

} // namespace

TEST(Metafiles, WmfAndEmfAreDrawnAtTheirNaturalSize) {
    const QImage wmf = RenderWmf(samples::Wmf(100, 50));
    ASSERT_EQ(wmf.size(), QSize(100, 50));
    EXPECT_EQ(wmf.pixelColor(20, 25), QColor(255, 0, 0));
    EXPECT_EQ(wmf.pixelColor(80, 25), QColor(Qt::white));
    const QImage emf = RenderEmf(samples::Emf(120, 60));
    ASSERT_EQ(emf.size(), QSize(120, 60));
    EXPECT_EQ(emf.pixelColor(20, 30), QColor(255, 0, 0));
    EXPECT_EQ(emf.pixelColor(100, 30), QColor(Qt::white));
    // The object table's size is the header's handle count, not its record count.
    QByteArray fewRecords = samples::Emf(120, 60);
    fewRecords[52] = 1;
    EXPECT_EQ(RenderEmf(fewRecords).pixelColor(20, 30), QColor(255, 0, 0));
    // Asked to fit a smaller side, the same picture comes scaled down.
    const QImage small = RenderEmf(samples::Emf(120, 60), 30);
    ASSERT_EQ(small.size(), QSize(30, 15));
    EXPECT_EQ(small.pixelColor(5, 7), QColor(255, 0, 0));
    EXPECT_EQ(small.pixelColor(25, 7), QColor(Qt::white));
    EXPECT_EQ(RenderWmf(samples::Wmf(100, 50), 50).size(), QSize(50, 25));
}

TEST(Metafiles, DamagedOrHostileMetafilesNeverCrash) {
    EXPECT_THROW(RenderWmf(samples::Wmf(0, 10)), std::runtime_error);
    EXPECT_THROW(RenderWmf(samples::Wmf(30000, 30000)), std::runtime_error); // too large
    EXPECT_THROW(RenderEmf(QByteArray(20, '\0')), std::runtime_error);
    std::mt19937 rng(7);
    for (const QByteArray& good : {samples::Wmf(64, 32), samples::Emf(64, 32)}) {
        for (int round = 0; round < 400; ++round) {
            QByteArray bytes = good;
            const int flips = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < flips; ++i)
                bytes[static_cast<int>(rng() % static_cast<unsigned>(bytes.size()))] =
                    static_cast<char>(rng());
            if (rng() % 4 == 0)
                bytes.truncate(static_cast<int>(rng() % static_cast<unsigned>(bytes.size())));
            try {
                const QImage image = DecodePicture(bytes);
                EXPECT_LE(image.width(), 8192);
            } catch (const std::runtime_error&) {
            }
        }
    }
}

TEST(Metafiles, TheDrawingWorkIsBoundedNotJustTheRecordCount) {
    const std::string tooComplex = "Picture too complex to draw";
    // A few kilobytes asking for a thousand shapes over a whole million-pixel picture, a few
    // over the largest picture, and a couple of megabytes of tiny shapes.
    for (const QByteArray& heavy :
         {samples::WmfEllipses(1000, 1000, 1000), samples::EmfEllipses(8000, 8000, 10),
          samples::EmfEllipses(2, 2, 200000)}) {
        EXPECT_EQ(failure([&] { return DecodePicture(heavy); }), tooComplex);
    }
    // Ordinary work is drawn: a hundred such shapes, and many records of little area.
    for (const QByteArray& fine :
         {samples::WmfEllipses(1000, 1000, 100), samples::EmfEllipses(2, 2, 20000)}) {
        const QImage image = DecodePicture(fine);
        EXPECT_FALSE(image.isNull());
    }
    // The same shape count over a tiny picture costs little; the area is what counts.
    const QImage small = RenderWmf(samples::WmfEllipses(20, 20, 1000));
    EXPECT_EQ(small.size(), QSize(20, 20));
}
