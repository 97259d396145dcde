// Takes a picture of the window after a run:
//   quenlith_window_screenshot OUT.png [--seed S] [--sheet I] [--results] [--tips K]
//                              [--pop N] [--sims S] [--width W --height H]
//                              [--model FILE --samples S [--model-picture OUT2.png]]
//                              [--plot I] [--mu U]
// --sheet shows tab sheet I on the left, --results the Results sheet on the right, --tips and
// --pop set k and N, --sims runs S simulations, --plot shows plot I of the Results sheet, --mu
// sets the mutation rate. Meant for a real display or Xvfb (xvfb-run); the run writes into a
// temporary directory. --model runs the Demes model FILE (copied into the working directory)
// with the samples S (deme:copies, ...); --model-picture also saves the "Model" window.
#include "app/main_window.h"
#include "app/model_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s OUT.png [--seed S] [--sheet I] [--results] [--tips K] [--pop N] "
                     "[--sims S] [--width W --height H]\n",
                     argv[0]);
        return 1;
    }
    const QString out = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    uint64_t seed = 1;
    int sheet = 0, width = 1028, height = 633;
    bool results = false;
    int plot = -1;
    QString tips, pop, sims, model, samples, modelPicture, mu;
    for (int i = 2; i < argc; ++i) {
        const bool more = i + 1 < argc;
        if (!std::strcmp(argv[i], "--seed") && more)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--sheet") && more)
            sheet = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--results"))
            results = true;
        else if (!std::strcmp(argv[i], "--tips") && more)
            tips = argv[++i];
        else if (!std::strcmp(argv[i], "--pop") && more)
            pop = argv[++i];
        else if (!std::strcmp(argv[i], "--sims") && more)
            sims = argv[++i];
        else if (!std::strcmp(argv[i], "--width") && more)
            width = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--height") && more)
            height = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--model") && more)
            model = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[++i]));
        else if (!std::strcmp(argv[i], "--samples") && more)
            samples = argv[++i];
        else if (!std::strcmp(argv[i], "--model-picture") && more)
            modelPicture = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[++i]));
        else if (!std::strcmp(argv[i], "--mu") && more)
            mu = argv[++i];
        else if (!std::strcmp(argv[i], "--plot") && more)
            plot = std::atoi(argv[++i]);
    }
    QTemporaryDir work;
    QDir::setCurrent(work.path());

    quenlith::TfrmTolvarin window;
    window.findChild<QLineEdit*>("edtSeed")->setText(QString::number(seed));
    if (!tips.isEmpty()) window.findChild<QLineEdit*>("edtSampleSize")->setText(tips);
    if (!pop.isEmpty()) window.findChild<QLineEdit*>("edtPopulationSize")->setText(pop);
    if (!mu.isEmpty()) window.findChild<QLineEdit*>("edtMutationRate")->setText(mu);
    if (!sims.isEmpty()) {
        window.findChild<QCheckBox*>("chkMultipleSims")->setChecked(true);
        window.findChild<QLineEdit*>("edtNumberSimulations")->setText(sims);
    }
    if (!model.isEmpty()) {
        // The model as a file of the working directory, named as a user would name it.
        const QString name = QFileInfo(model).fileName();
        if (!QFile::copy(model, name)) return 1;
        window.findChild<QCheckBox*>("chkDemes")->setChecked(true);
        window.findChild<QLineEdit*>("edtDemes")->setText(name);
        window.findChild<QLineEdit*>("edtSamples")->setText(samples);
    }
    window.resize(width, height);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;

    QSignalSpy finished(&window, &quenlith::TfrmTolvarin::runFinished);
    window.findChild<QPushButton*>("btnRunSimulation")->click();
    if (!finished.wait(600000)) return 1;
    window.findChild<QTabWidget*>("PageControl1")->setCurrentIndex(sheet);
    if (results) window.findChild<QTabWidget*>("PageControl2")->setCurrentIndex(1);
    if (plot >= 0) window.findChild<QComboBox*>("cmbPlot")->setCurrentIndex(plot);
    QTest::qWait(300);
    if (!window.grab().save(out, "PNG")) return 1;
    if (modelPicture.isEmpty()) return 0;
    window.findChild<QPushButton*>("btnModelPicture")->click();
    quenlith::ModelWindow* picture = window.modelPanel()->pictureWindow();
    if (!QTest::qWaitForWindowExposed(picture)) return 1;
    QTest::qWait(300);
    return picture->grab().save(modelPicture, "PNG") ? 0 : 1;
}
