// The window as a research tool: stopping a run, repeating it from its seed, the picture of a
// genealogy whose root lies above 3N, jumping to a genealogy, saving pictures in every
// format, and the Results sheet's plots against the exact expectations.
#include "app/deme_colours.h"
#include "app/genealogy_drawing.h"
#include "app/picture_files.h"
#include "app/run_theory.h"
#include "window_fixture.h"

#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPainter>
#include <QRadioButton>
#include <QScatterSeries>
#include <QSpinBox>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QValueAxis>
#include <cmath>

using namespace quenlith;
using Kind = TfrmTolvarin::MessageKind;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

QStringList filesBelow(const QString& dir) {
    QStringList files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

// Lines 4 to 6 of the log: the date and the start and end times.
QByteArray withoutClockLines(const QByteArray& log) {
    QList<QByteArray> lines = log.split('\n');
    for (int i = 3; i < 6 && i < lines.size(); ++i)
        lines[i] = "clock";
    return lines.join('\n');
}

class ResearchTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(work.isValid());
        workDir = QDir(work.path()).canonicalPath();
        assignDirectory(workDir);
    }
    void set(const char* name, const QString& text) { child<QLineEdit>(name)->setText(text); }
    void check(const char* name, bool on = true) { child<QCheckBox>(name)->setChecked(on); }
    QString file(const QString& name) const { return workDir + "/" + name; }
    // Starts a run without waiting for it.
    void startRun() {
        child<QPushButton>("btnRunSimulation")->click();
        ASSERT_TRUE(window->isRunning());
    }

    QTemporaryDir work;
    QString workDir;
};

} // namespace

// Closing the window during a run ends the application's event loop once the current
// simulation is done: the process can exit.
TEST_F(ResearchTest, ClosingDuringARunEndsTheEventLoop) {
    set("edtSampleSize", "40");
    set("edtPopulationSize", "20000");
    check("chkMultipleSims");
    set("edtNumberSimulations", "100000");
    window->show();
    startRun();
    QApplication::setQuitOnLastWindowClosed(true);
    bool timedOut = false;
    QTimer::singleShot(200, window.get(), [this] { window->close(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    guard.start(60000);
    const int code = QCoreApplication::exec();
    QApplication::setQuitOnLastWindowClosed(false);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(window->isRunning());
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(QFile::exists(file("logFile.txt")));
}

// Stop ends the run after the current simulation: the files hold exactly the simulations
// done, the window says how many, there is no log, and the finished genealogies can be
// browsed.
TEST_F(ResearchTest, StopButtonEndsTheRunAfterTheCurrentSimulation) {
    set("edtSampleSize", "30");
    set("edtPopulationSize", "5000");
    check("chkMultipleSims");
    set("edtNumberSimulations", "100000");
    window->setFixedSeed(99u);
    QSignalSpy finished(window.get(), &TfrmTolvarin::runFinished);
    startRun();
    auto* stop = child<QPushButton>("btnStop");
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_FALSE(child<QPushButton>("btnRunSimulation")->isEnabled());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return child<QLineEdit>("memSimNum")->text().toInt() >= 2; }, 60000));
    stop->click();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(60000));
    EXPECT_FALSE(window->isRunning());
    EXPECT_FALSE(stop->isEnabled());

    const int done = window->simulationsDone();
    EXPECT_GE(done, 2);
    EXPECT_LT(done, 100000);
    EXPECT_EQ(readAll(file("NewickTrees.tre")).count('\n'), done);
    EXPECT_EQ(readAll(file("TreeMatFile.txt")).count('#'), done);
    EXPECT_FALSE(QFile::exists(file("logFile.txt")));
    EXPECT_EQ(child<QLabel>("lblRunStatus")->text(),
              QString("Stopped after %1 of 100000 simulations (no log)").arg(done));
    EXPECT_EQ(window->shownRecord(), done);
    EXPECT_FALSE(window->picture().isNull());
    child<QPushButton>("BitBtn1")->click();
    EXPECT_EQ(window->shownRecord(), 1);
    EXPECT_TRUE(messages.empty());
}

// A genealogy of N = 10^9 takes billions of generations: Stop reaches inside it, and the run
// ends with no simulation done and nothing left to draw.
TEST_F(ResearchTest, StopReachesInsideALongGenealogy) {
    set("edtPopulationSize", "1000000000");
    QSignalSpy finished(window.get(), &TfrmTolvarin::runFinished);
    startRun();
    QTest::qWait(300);
    ASSERT_TRUE(window->isRunning());
    child<QPushButton>("btnStop")->click();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(60000));
    EXPECT_EQ(window->simulationsDone(), 0);
    EXPECT_EQ(readAll(file("NewickTrees.tre")), QByteArray());
    EXPECT_TRUE(window->picture().isNull());
    EXPECT_EQ(child<QLabel>("lblRunStatus")->text(), "Stopped after 0 of 1 simulations (no log)");
    child<QPushButton>("BitBtn1")->click();
    EXPECT_TRUE(lastMessageIs(Kind::Warning, "Please run simulations first"));
}

// A run seeded from the clock shows its seed; typed into the seed box it repeats the run byte
// for byte, and the log names it.
TEST_F(ResearchTest, SeedRoundTripRepeatsTheRun) {
    set("edtSampleSize", "8");
    set("edtPopulationSize", "500");
    check("chkMultipleSims");
    set("edtNumberSimulations", "5");
    check("chkSeqOut");
    set("edtMutationRate", "0.00001");
    ASSERT_TRUE(pressRunAndWait());
    ASSERT_TRUE(messages.empty());
    ASSERT_TRUE(window->lastSeed().has_value());
    const QString seed = child<QLineEdit>("memLastSeed")->text();
    EXPECT_EQ(seed, QString::number(*window->lastSeed()));
    const QByteArray log = readAll(file("logFile.txt"));
    const QList<QByteArray> lines = log.split('\n');
    ASSERT_GT(lines.size(), 7);
    EXPECT_TRUE(lines[5].startsWith("Finished at: "));
    EXPECT_EQ(lines[6], "Random seed: " + seed.toLatin1() + "\r");

    QTemporaryDir again;
    const QString againDir = QDir(again.path()).canonicalPath();
    assignDirectory(againDir);
    set("edtSeed", " " + seed + " ");
    ASSERT_TRUE(pressRunAndWait());
    ASSERT_TRUE(messages.empty());
    EXPECT_EQ(child<QLineEdit>("memLastSeed")->text(), seed);
    const QStringList files = filesBelow(workDir);
    ASSERT_EQ(files, filesBelow(againDir));
    for (const QString& name : files) {
        QByteArray a = readAll(workDir + "/" + name), b = readAll(againDir + "/" + name);
        if (name == "logFile.txt") a = withoutClockLines(a), b = withoutClockLines(b);
        EXPECT_TRUE(a == b) << name.toStdString();
    }

    // A seed that is not a whole number in the generator's range runs nothing.
    for (const char* bad : {"12x", "-1", "4294967296", "1.5"}) {
        set("edtSeed", bad);
        child<QPushButton>("btnRunSimulation")->click();
        EXPECT_FALSE(window->isRunning());
        EXPECT_TRUE(
            lastMessageIs(Kind::Warning, "The seed must be a whole number from 0 to 4294967295"))
            << bad;
    }
}

TEST(SeedText, RangeOfEachGenerator) {
    EXPECT_EQ(parseSeed("0", RandomKind::Lcg), 0u);
    EXPECT_EQ(parseSeed(" 4294967295 ", RandomKind::Lcg), 4294967295u);
    EXPECT_FALSE(parseSeed("4294967296", RandomKind::Lcg));
    EXPECT_EQ(parseSeed("4294967296", RandomKind::Streams), 4294967296u);
    EXPECT_EQ(parseSeed("18446744073709551615", RandomKind::Streams), 18446744073709551615u);
    EXPECT_FALSE(parseSeed("18446744073709551616", RandomKind::Streams));
    for (const char* bad : {"", " ", "+1", "-0", "0x10", "1e3", "12 3"})
        EXPECT_FALSE(parseSeed(bad, RandomKind::Streams)) << bad;
}

// With 30 copies in 3 parents the TMRCA is at least 29 generations, far above 3N = 9: the root
// bar stands at the top (y = 10) instead of above the image.
TEST_F(ResearchTest, RootAbove3NIsDrawnInsideThePicture) {
    set("edtSampleSize", "30");
    set("edtPopulationSize", "3");
    window->setFixedSeed(5u);
    ASSERT_TRUE(pressRunAndWait());
    const QImage picture = window->picture().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(633, 529));
    int rootRow = 0, above = 0;
    for (int x = 0; x < 633; ++x) {
        rootRow += QColor(picture.pixel(x, 10)) == QColor(Qt::black);
        for (int y = 0; y < 10; ++y)
            above += QColor(picture.pixel(x, y)) == QColor(Qt::black);
    }
    EXPECT_GT(rootRow, 5); // the root's bar
    EXPECT_EQ(above, 0);   // nothing of the tree above it
}

// The jump box shows any genealogy; the line under the picture names the run; a failed load
// leaves the genealogy on screen and its number as they were.
TEST_F(ResearchTest, JumpToAGenealogyAndFailedLoads) {
    set("edtSampleSize", "6");
    set("edtPopulationSize", "300");
    check("chkMultipleSims");
    window->setFixedSeed(4242u);
    ASSERT_TRUE(pressRunAndWait());
    EXPECT_EQ(child<QLabel>("lblRunLine")->text(),
              "Seed 4242, k = 6, N = 300, simulation 100 of 100");
    auto* simulation = child<QSpinBox>("spnSimulation");
    EXPECT_EQ(simulation->maximum(), 100);
    EXPECT_FALSE(child<QSpinBox>("spnLocus")->isEnabled());
    simulation->setValue(90);
    child<QPushButton>("btnShowGenealogy")->click();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window->shownRecord(), 90);
    EXPECT_EQ(child<QLabel>("lblRunLine")->text(),
              "Seed 4242, k = 6, N = 300, simulation 90 of 100");
    const QImage jumped = window->picture();
    // The same picture as stepping there.
    for (int i = 0; i < 10; ++i)
        child<QPushButton>("BitBtn1")->click();
    EXPECT_EQ(window->shownRecord(), 100);
    for (int i = 0; i < 10; ++i)
        child<QPushButton>("BitBtn2")->click();
    EXPECT_EQ(window->shownRecord(), 90);
    EXPECT_EQ(window->picture(), jumped);

    QFile::remove(file("TreeMatFile.txt"));
    child<QPushButton>("BitBtn1")->click();
    EXPECT_TRUE(lastMessageIs(Kind::Error, "File not found"));
    EXPECT_EQ(window->shownRecord(), 90);
    EXPECT_EQ(simulation->value(), 90);
    EXPECT_EQ(window->picture(), jumped);

    // A new run clears the old drawing as it starts.
    set("edtPopulationSize", "10000000");
    check("chkMultipleSims", false);
    QSignalSpy finished(window.get(), &TfrmTolvarin::runFinished);
    startRun();
    EXPECT_TRUE(window->picture().isNull());
    EXPECT_FALSE(child<GenealogyView>("Image1")->hasDrawing());
    EXPECT_TRUE(child<QLabel>("lblRunLine")->text().isEmpty());
    child<QPushButton>("btnStop")->click();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(60000));
}

TEST_F(ResearchTest, JumpInAMicrosatelliteRunTakesSimulationAndLocus) {
    QFile params(file("msatparam.txt"));
    ASSERT_TRUE(params.open(QIODevice::WriteOnly));
    params.write("1 100 140 2 0.0005\r\n2 100 140 2 0.0005\r\n3 100 140 2 0.0005\r\n");
    params.close();
    check("chkMsats");
    set("edtNumLoci", "3");
    set("edtSampleSize", "6");
    set("edtPopulationSize", "200");
    check("chkMultipleSims");
    set("edtNumberSimulations", "4");
    window->setFixedSeed(7u);
    ASSERT_TRUE(pressRunAndWait());
    ASSERT_TRUE(messages.empty()) << messages.front().text.toStdString();
    child<QSpinBox>("spnSimulation")->setValue(2);
    child<QSpinBox>("spnLocus")->setValue(3);
    child<QPushButton>("btnShowGenealogy")->click();
    EXPECT_EQ(window->shownRecord(), 6); // (2 - 1) * 3 + 3
    EXPECT_TRUE(child<QLabel>("lblRunLine")->text().endsWith("simulation 2 of 4, locus 3 of 3"));
}

// Every format is written as its name or the dialog's filter says, and reads back as that
// format; .bmp, a bare name and .jpg stay BMP.
TEST_F(ResearchTest, SavingInEveryFormat) {
    set("edtSampleSize", "12");
    window->setFixedSeed(31u);
    ASSERT_TRUE(pressRunAndWait());
    QTemporaryDir images;
    QString name;
    window->setSaveNameChooser([&name] { return name; });
    auto save = [&](const QString& n) {
        name = images.path() + "/" + n;
        child<QPushButton>("BitBtn3")->click();
        return readAll(name);
    };
    const QImage picture = window->picture().convertToFormat(QImage::Format_RGB32);
    for (const char* bmp : {"tree.bmp", "tree", "tree.jpg"}) {
        EXPECT_TRUE(save(bmp).startsWith("BM")) << bmp;
        EXPECT_EQ(QImage(name, "BMP").convertToFormat(QImage::Format_RGB32), picture) << bmp;
    }
    EXPECT_TRUE(save("tree.png").startsWith("\x89PNG"));
    EXPECT_EQ(QImage(name, "PNG").convertToFormat(QImage::Format_RGB32), picture);
    EXPECT_TRUE(save("tree.PNG").startsWith("\x89PNG"));

    save("tree.svg");
    QSvgRenderer svg(name);
    ASSERT_TRUE(svg.isValid());
    EXPECT_EQ(svg.viewBox(), QRect(0, 0, 633, 529));
    QImage fromSvg(633, 529, QImage::Format_RGB32);
    fromSvg.fill(Qt::white);
    {
        QPainter painter(&fromSvg);
        svg.render(&painter);
    }
    // The vector copy has the tree's black lines where the bitmap has them.
    int agree = 0, blackPixels = 0;
    for (int y = 0; y < 529; ++y)
        for (int x = 0; x < 633; ++x)
            if (QColor(picture.pixel(x, y)) == QColor(Qt::black)) {
                ++blackPixels;
                agree += qGray(fromSvg.pixel(x, y)) < 128;
            }
    EXPECT_GT(blackPixels, 200);
    EXPECT_GT(agree, blackPixels * 9 / 10);

    const QByteArray pdf = save("tree.pdf");
    EXPECT_TRUE(pdf.startsWith("%PDF-"));
    EXPECT_TRUE(pdf.trimmed().endsWith("%%EOF"));

    // The format by the dialog's filter when the extension names none.
    EXPECT_EQ(pictureFormatFor("a.jpg", "PNG (*.png)"), PictureFormat::Png);
    EXPECT_EQ(pictureFormatFor("a.jpg", "Jpeg (*.jpg)"), PictureFormat::Bmp);
    EXPECT_EQ(pictureFormatFor("a", "SVG (*.svg)"), PictureFormat::Bmp);
    EXPECT_EQ(pictureSuffixFor("PDF (*.pdf)"), "pdf");
    EXPECT_EQ(pictureSuffixFor("Bitmap (*.bmp)"), "");
    EXPECT_TRUE(messages.empty());

    // A file that cannot be created reports the standard text with the path.
    name = images.path() + "/missing/tree.png";
    child<QPushButton>("BitBtn3")->click();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().detail, name);
}

// The Results sheet: the expected curve of the waiting times is the exact formula at every
// a, the expectation lines stand at E[TMRCA] and E[mutation events], the histograms count
// every genealogy, and each plot saves as PNG and SVG.
TEST_F(ResearchTest, ResultsPlotsAgainstTheExactExpectations) {
    set("edtSampleSize", "10");
    set("edtPopulationSize", "100");
    set("edtSeqLength", "100");
    set("edtMutationRate", "0.0001");
    check("chkMultipleSims");
    set("edtNumberSimulations", "300");
    window->setFixedSeed(17u);
    ASSERT_TRUE(pressRunAndWait());
    ResultsView* results = window->results();

    // Plain formula: 1 / (1 - prod_{i<a} (1 - i / N)).
    auto exact = [](int a, double n) {
        double distinct = 1;
        for (int i = 1; i < a; ++i)
            distinct *= 1 - i / n;
        return 1 / (1 - distinct);
    };
    ASSERT_TRUE(results->showPlot(PlotKind::WaitingTimes));
    auto* expected = results->chart()->findChild<QLineSeries*>("expected");
    if (!expected)
        for (QAbstractSeries* s : results->chart()->series())
            if (s->objectName() == "expected") expected = qobject_cast<QLineSeries*>(s);
    ASSERT_NE(expected, nullptr);
    const QList<QPointF> points = expected->points();
    ASSERT_EQ(points.size(), 9);
    for (const QPointF& p : points)
        EXPECT_NEAR(p.y(), exact(static_cast<int>(p.x()), 100), 1e-9 * p.y()) << p.x();
    // The simulated means, within a wide band of the expectation (300 genealogies).
    QScatterSeries* observed = nullptr;
    for (QAbstractSeries* s : results->chart()->series())
        if (s->objectName() == "observed") observed = qobject_cast<QScatterSeries*>(s);
    ASSERT_NE(observed, nullptr);
    ASSERT_EQ(observed->points().size(), 9);
    for (const QPointF& p : observed->points()) {
        const double e = exact(static_cast<int>(p.x()), 100);
        EXPECT_NEAR(p.y(), e, 0.35 * e) << p.x();
    }

    auto seriesNamed = [&](const char* name) -> QLineSeries* {
        for (QAbstractSeries* s : results->chart()->series())
            if (s->objectName() == name) return qobject_cast<QLineSeries*>(s);
        return nullptr;
    };
    ASSERT_TRUE(results->showPlot(PlotKind::Tmrca));
    QLineSeries* tmrcaLine = seriesNamed("expected");
    ASSERT_NE(tmrcaLine, nullptr);
    double sum = 0;
    for (int a = 2; a <= 10; ++a)
        sum += exact(a, 100);
    EXPECT_NEAR(tmrcaLine->points().front().x(), sum, 1e-9 * sum);
    // The stepped outline's heights add up to every genealogy.
    QLineSeries* histogram = seriesNamed("observed");
    ASSERT_NE(histogram, nullptr);
    double total = 0;
    const QList<QPointF> outline = histogram->points();
    for (int i = 1; i + 1 < outline.size(); i += 3)
        total += outline[i].y();
    EXPECT_NEAR(total, 1.0, 1e-9);

    ASSERT_TRUE(results->showPlot(PlotKind::MutationEvents));
    QLineSeries* mutationLine = seriesNamed("expected");
    ASSERT_NE(mutationLine, nullptr);
    const double p = 1 - std::pow(1 - 0.0001L, 100);
    double weighted = 0;
    for (int a = 2; a <= 10; ++a)
        weighted += a * exact(a, 100);
    EXPECT_NEAR(mutationLine->points().front().x(), p * weighted, 1e-6 * p * weighted);
    EXPECT_FALSE(results->showPlot(PlotKind::Alleles));

    QTemporaryDir plots;
    results->savePlot(plots.path() + "/m.png");
    EXPECT_FALSE(QImage(plots.path() + "/m.png", "PNG").isNull());
    results->savePlot(plots.path() + "/m.svg");
    EXPECT_TRUE(QSvgRenderer(plots.path() + "/m.svg").isValid());
}

// A fluctuating size has no expectation; a microsatellite run adds its per-locus plots.
TEST_F(ResearchTest, ResultsWithoutTheoryAndForMicrosatellites) {
    check("chkFluctuatingN");
    set("edtSampleSize", "5");
    set("edtPopulationSize", "100");
    window->setFixedSeed(3u);
    ASSERT_TRUE(pressRunAndWait());
    ResultsView* results = window->results();
    ASSERT_TRUE(results->showPlot(PlotKind::Tmrca));
    for (QAbstractSeries* s : results->chart()->series())
        EXPECT_NE(s->objectName(), "expected");

    check("chkFluctuatingN", false);
    QFile params(file("msatparam.txt"));
    ASSERT_TRUE(params.open(QIODevice::WriteOnly));
    params.write("1 100 140 2 0.001\r\n2 100 140 2 0.002\r\n");
    params.close();
    check("chkMsats");
    set("edtNumLoci", "2");
    child<QRadioButton>("radStepwise")->setChecked(true);
    check("chkMultipleSims");
    set("edtNumberSimulations", "20");
    ASSERT_TRUE(pressRunAndWait());
    ASSERT_TRUE(messages.empty());
    EXPECT_TRUE(results->showPlot(PlotKind::Alleles));
    EXPECT_TRUE(results->showPlot(PlotKind::GeneDiversity));
    EXPECT_EQ(results->chart()->series().size(), 1);
}

// At its minimum size every control of every sheet lies inside the window, and the picture
// grows with the window.
TEST_F(ResearchTest, MinimumSizeShowsEveryControlAndThePictureGrows) {
    window->show();
    window->resize(window->minimumSize());
    QApplication::processEvents();
    EXPECT_LE(window->minimumWidth(), 900);
    EXPECT_LE(window->minimumHeight(), 700);
    auto* tabs = child<QTabWidget>("PageControl1");
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QApplication::processEvents();
        QWidget* page = tabs->widget(i);
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(page) || w->parentWidget() != page) continue;
            EXPECT_TRUE(page->rect().contains(w->geometry()))
                << tabs->tabText(i).toStdString() << " " << w->objectName().toStdString();
        }
    }
    for (const char* name :
         {"BitBtn1", "BitBtn2", "BitBtn3", "btnShowGenealogy", "spnSimulation"}) {
        QWidget* w = child<QWidget>(name);
        const QRect inWindow(w->mapTo(window.get(), QPoint(0, 0)), w->size());
        EXPECT_TRUE(window->rect().contains(inWindow)) << name;
    }
    const double small = child<GenealogyView>("Image1")->pictureRect().width();
    window->resize(1600, 1000);
    QApplication::processEvents();
    EXPECT_GT(child<GenealogyView>("Image1")->pictureRect().width(), small * 1.5);
}

// A refused run rewrites none of the last run's genealogies: its drawing comes back and the
// browser still steps through them.
TEST_F(ResearchTest, RefusedRunKeepsTheLastRunsDrawingAndRecords) {
    set("edtSampleSize", "6");
    check("chkMultipleSims");
    set("edtNumberSimulations", "3");
    window->setFixedSeed(12u);
    ASSERT_TRUE(pressRunAndWait());
    const QImage before = window->picture();
    const QString line = child<QLabel>("lblRunLine")->text();
    set("edtSampleSize", "0");
    ASSERT_TRUE(pressRunAndWait());
    EXPECT_TRUE(lastMessageIs(Kind::Warning, "Please insert Sample and Population Sizes"));
    EXPECT_EQ(window->picture(), before);
    EXPECT_EQ(child<QLabel>("lblRunLine")->text(), line);
    messages.clear();
    child<QPushButton>("BitBtn1")->click();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window->shownRecord(), 1);
}

// The controls beyond the original ones fill their FormValues fields.
TEST_F(ResearchTest, NewControlsFillTheirFormValues) {
    FormValues f = window->formValues();
    EXPECT_EQ(f.rngKind, RandomKind::Lcg);
    EXPECT_EQ(f.mergers, MergeRule::One);
    EXPECT_FALSE(f.chkStats);
    EXPECT_EQ(f.edtStats, "stats.csv");
    EXPECT_FALSE(f.chkVcf);
    EXPECT_EQ(f.edtVcf, "sites.vcf");
    child<QComboBox>("cmbRandom")->setCurrentIndex(1);
    child<QComboBox>("cmbMergers")->setCurrentIndex(1);
    check("chkStats");
    set("edtStats", "s.csv");
    check("chkVcf");
    set("edtVcf", "v.vcf");
    f = window->formValues();
    EXPECT_EQ(f.rngKind, RandomKind::Streams);
    EXPECT_EQ(f.mergers, MergeRule::All);
    EXPECT_TRUE(f.chkStats);
    EXPECT_EQ(f.edtStats, "s.csv");
    EXPECT_TRUE(f.chkVcf);
    EXPECT_EQ(f.edtVcf, "v.vcf");
    // Streams take 64-bit seeds from the box.
    set("edtSeed", "18446744073709551615");
    window->show();
    set("edtSampleSize", "0"); // refused at once: only the seed matters here
    ASSERT_TRUE(pressRunAndWait());
    EXPECT_EQ(window->lastSeed(), std::optional<uint64_t>(18446744073709551615u));
    EXPECT_EQ(child<QLineEdit>("memLastSeed")->text(), "18446744073709551615");
}

// Pixels of exactly one colour (0xRRGGBB).
int countColour(const QImage& image, uint32_t rgb) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == rgb;
    return n;
}

// A run of a two-deme model: its genealogies drawn in their demes (on screen and browsed),
// the plots by deme with the exact expectations of the two-deme chain (against the plain
// recursion of its law), the one-population expectations left out, and the plots saved.
TEST_F(ResearchTest, ModelRunShowsItsDemesAndTheirResults) {
    QFile model(file("island.yaml"));
    ASSERT_TRUE(model.open(QIODevice::WriteOnly));
    model.write("time_units: generations\ndemes:\n  - name: A\n    epochs: [{start_size: 50}]\n"
                "  - name: B\n    epochs: [{start_size: 50}]\n"
                "migrations:\n  - demes: [A, B]\n    rate: 0.01\n");
    model.close();
    check("chkDemes");
    set("edtDemes", "island.yaml");
    set("edtSamples", "A:4,B:2");
    set("edtSeqLength", "100");
    set("edtMutationRate", "0.0001");
    check("chkMultipleSims");
    set("edtNumberSimulations", "400");
    window->setFixedSeed(8u);
    ASSERT_TRUE(pressRunAndWait());
    ASSERT_TRUE(messages.empty()) << messages.front().text.toStdString();
    ASSERT_EQ(window->picture().width(), kImageWidth + kLegendWidth);
    for (const uint32_t colour : {demeColour(0), demeColour(1)})
        EXPECT_GT(countColour(window->picture(), colour), 20) << std::hex << colour;
    child<QPushButton>("BitBtn2")->click();
    EXPECT_EQ(window->shownRecord(), 399);
    EXPECT_EQ(window->picture().width(), kImageWidth + kLegendWidth);

    // E[T] of two copies: in one deme of 100 copies, or one in each, by the chain's law.
    auto pairMean = [](int start) {
        const double m = 0.01, c = 1.0 / 100;
        double p[3] = {0, 0, 0}, mean = 0;
        p[start] = 1;
        for (int t = 0; t < 200000; ++t) {
            mean += p[0] + p[1] + p[2];
            const double same = p[0] + p[1], apart = p[2];
            // Migration, then a shared parent within a deme.
            const double nextSame = (same * ((1 - m) * (1 - m) + m * m) + apart * 2 * m * (1 - m));
            const double nextApart = same * 2 * m * (1 - m) + apart * ((1 - m) * (1 - m) + m * m);
            p[0] = nextSame * (1 - c) / 2;
            p[1] = nextSame * (1 - c) / 2;
            p[2] = nextApart;
        }
        return mean;
    };
    const double mutation = 1 - std::pow(1 - 0.0001L, 100);
    ResultsView* results = window->results();
    auto seriesNamed = [&](const QString& name) -> QLineSeries* {
        for (QAbstractSeries* s : results->chart()->series())
            if (s->objectName() == name) return qobject_cast<QLineSeries*>(s);
        return nullptr;
    };
    ASSERT_TRUE(results->showPlot(PlotKind::DemeDiversity));
    const std::vector<DemeSeries> pi = demeSeries(PlotKind::DemeDiversity, results->data());
    ASSERT_EQ(pi.size(), 2u);
    for (const DemeSeries& s : pi) {
        QLineSeries* line = seriesNamed("expected:" + QString::fromStdString(s.label));
        ASSERT_NE(line, nullptr) << s.label;
        const double exact = 2 * mutation * pairMean(0);
        EXPECT_NEAR(line->points().front().x(), exact, 1e-6 * exact);
        EXPECT_NEAR(s.mean, exact, 0.25 * exact) << s.label;
        EXPECT_NE(seriesNamed("observed:" + QString::fromStdString(s.label)), nullptr);
        EXPECT_EQ(s.values.size(), 400u);
    }
    ASSERT_TRUE(results->showPlot(PlotKind::DemeDivergence));
    QLineSeries* dxy = seriesNamed("expected:A-B");
    ASSERT_NE(dxy, nullptr);
    const double exactDxy = 2 * mutation * pairMean(2);
    EXPECT_NEAR(dxy->points().front().x(), exactDxy, 1e-6 * exactDxy);
    ASSERT_TRUE(results->showPlot(PlotKind::DemeFst));
    QLineSeries* fst = seriesNamed("expected:A-B");
    ASSERT_NE(fst, nullptr);
    EXPECT_NEAR(fst->points().front().x(), 1 - pairMean(0) / pairMean(2), 1e-6);
    // Six copies: no exact TMRCA, the run's mean instead; no one-population expectation.
    ASSERT_TRUE(results->showPlot(PlotKind::Tmrca));
    EXPECT_EQ(seriesNamed("expected"), nullptr);
    ASSERT_NE(seriesNamed("mean"), nullptr);
    ASSERT_TRUE(results->showPlot(PlotKind::MutationEvents));
    EXPECT_EQ(seriesNamed("expected"), nullptr);

    ASSERT_TRUE(results->showPlot(PlotKind::DemeDiversity));
    QTemporaryDir plots;
    results->savePlot(plots.path() + "/pi.png");
    EXPECT_FALSE(QImage(plots.path() + "/pi.png", "PNG").isNull());
    results->savePlot(plots.path() + "/pi.svg");
    EXPECT_TRUE(QSvgRenderer(plots.path() + "/pi.svg").isValid());
}
