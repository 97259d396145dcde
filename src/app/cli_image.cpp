// Image saving for quenlith-cli: the drawing the window's save button would write after
// the same run, as BMP. Works without a display: when no application object exists, one
// is created on the offscreen platform for the time of the drawing.
#include "app/genealogy_browser.h"
#include "app/genealogy_image.h"
#include "run/run_driver.h"
#include "base/run_error.h"

#include <QGuiApplication>
#include <QtGlobal>
#include <cstdio>
#include <memory>
#include <string>

namespace quenlith {

namespace {

// Standard error belongs to the command line's own lines (seed, warnings, errors); the
// toolkit's notes about its environment are dropped while the image is made.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

bool saveGenealogyImage(const RunOutcome& outcome, const std::string& path, std::string& error) {
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
    try {
        const QImage image =
            hasGenealogyToDraw(outcome)
                ? renderGenealogy(lastGenealogyPicture(outcome, outcome.drawMutations))
                : blankGenealogyImage();
        writeBmpFile(image, path);
    } catch (const RunError& e) {
        error = e.text();
        if (!e.detail().empty()) error += ": " + e.detail();
        return false;
    }
    return true;
}

} // namespace quenlith
