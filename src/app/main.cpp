// quenlith: the window.
#include "app/main_window.h"

#include <QApplication>
#include <QDir>
#include <QScreen>

namespace {

// The window starts with the working directory ".", the folder the program runs in. Started
// from a menu or from a clone of the sources that is no place for the user's runs, so the
// program works in ~/quenlith-runs, made on first use (the folder it was started in when
// that cannot be made).
void enterRunsFolder() {
    QDir home = QDir::home();
    const QString name = "quenlith-runs";
    if (home.exists() && home.mkpath(name)) QDir::setCurrent(home.filePath(name));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    enterRunsFolder();
    quenlith::TfrmTolvarin window;
    if (const QScreen* screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return app.exec();
}
