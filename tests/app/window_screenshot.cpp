// Takes a picture of the window after a run with the default values:
//   quenlith_window_screenshot OUT.png [SEED [SHEET]]
// Meant for a real display or Xvfb (xvfb-run); the run writes into a temporary directory.
#include "app/main_window.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.png [SEED]\n", argv[0]);
        return 1;
    }
    const QString out = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir work;
    QDir::setCurrent(work.path());

    quenlith::TfrmTolvarin window;
    window.setFixedSeed(argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1u);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;

    QSignalSpy finished(&window, &quenlith::TfrmTolvarin::runFinished);
    window.findChild<QPushButton*>("btnRunSimulation")->click();
    if (!finished.wait(120000)) return 1;
    if (argc > 3)
        window.findChild<QTabWidget*>("PageControl1")->setCurrentIndex(std::atoi(argv[3]));
    QTest::qWait(300);
    return window.grab().save(out, "PNG") ? 0 : 1;
}
