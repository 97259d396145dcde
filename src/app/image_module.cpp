// The image module of quenlith-cli: paints the drawing handed over with the window's own
// painting code and writes it as BMP. Works without a display: when no application object
// exists, one is created on the offscreen platform for the time of the drawing.
#include "app/image_module.h"

#include "app/genealogy_image.h"
#include "base/run_error.h"

#include <QGuiApplication>
#include <QtGlobal>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>

namespace quenlith {

namespace {

// Standard error belongs to the command line's own lines (seed, warnings, errors); the
// toolkit's notes about its environment are dropped while the image is made.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) fprintf(stderr, "%s\n", qPrintable(text));
}

void saveBmp(const QuenlithImageItem* items, size_t count, const std::string& path) {
    const QtMessageHandler previous = qInstallMessageHandler(quietMessages);
    struct Restore {
        QtMessageHandler handler;
        ~Restore() { qInstallMessageHandler(handler); }
    } restore{previous};
    std::unique_ptr<QGuiApplication> app;
    if (!QGuiApplication::instance()) {
        static int argc = 3;
        static char arg0[] = "quenlith-cli";
        static char arg1[] = "-platform";
        static char arg2[] = "offscreen";
        static char* argv[] = {arg0, arg1, arg2, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    QImage image = blankGenealogyImage();
    if (count > 0) {
        PainterSink sink(image);
        for (size_t i = 0; i < count; ++i) {
            const QuenlithImageItem& it = items[i];
            if (it.isText)
                sink.text({it.x1, it.y1, it.text ? it.text : "", it.colour, it.size});
            else
                sink.line({it.x1, it.y1, it.x2, it.y2, it.colour, it.size});
        }
    }
    writeBmpFile(image, path);
}

void copyMessage(const std::string& message, char* error, size_t errorSize) {
    if (error == nullptr || errorSize == 0) return;
    const size_t n = std::min(message.size(), errorSize - 1);
    message.copy(error, n);
    error[n] = '\0';
}

} // namespace

} // namespace quenlith

extern "C" __attribute__((visibility("default"))) int
quenlith_save_bmp_v1(const QuenlithImageItem* items, size_t count, const char* path, char* error,
                     size_t errorSize) {
    using namespace quenlith;
    try {
        saveBmp(items, count, path ? path : "");
        return 0;
    } catch (const RunError& e) {
        std::string message = e.text();
        if (!e.detail().empty()) message += ": " + e.detail();
        copyMessage(message, error, errorSize);
    } catch (const std::bad_alloc&) {
        copyMessage("Out of memory", error, errorSize);
    } catch (const std::exception& e) {
        copyMessage(e.what(), error, errorSize);
    }
    return 1;
}
