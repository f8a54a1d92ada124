// libFuzzer target: any bytes as a Windows metafile or enhanced metafile. The renderer must
// neither crash, hang nor draw a picture larger than it was asked for. Pictures are drawn to
// fit 256 pixels: every record is read and drawn as at full size, without filling megapixels
// per input.
#include "preview/metafile/metafile.h"

#include <QGuiApplication>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (auto render : {preview::RenderWmf, preview::RenderEmf}) {
        try {
            const QImage image = render(bytes, 256);
            if (image.width() > 256 || image.height() > 256)
                std::abort();
        } catch (const std::runtime_error&) {
        }
    }
    return 0;
}
