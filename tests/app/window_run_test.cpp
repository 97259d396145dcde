// Runs through the window: the same files as quenlith-cli, the drawing, browsing, saving,
// warnings and errors, and closing during a run.
#include "window_fixture.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quenlith;
using Kind = TfrmTolvarin::MessageKind;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

// The log's clock lines (date, start and end time) differ between any two runs.
QByteArray withoutClockLines(const QByteArray& log) {
    static const QRegularExpression clock(
        R"(\d{1,2}:\d{2}:\d{2}|^\s*\d{1,4}[-/.]\d{1,2}[-/.]\d{1,4}\s*$)");
    QByteArray out;
    for (const QByteArray& line : log.split('\n'))
        if (!clock.match(QString::fromLatin1(line)).hasMatch()) out += line + '\n';
    return out;
}

// Relative paths of every file below dir.
QStringList filesBelow(const QString& dir) {
    QStringList files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

int runCli(const QStringList& args) {
    QProcess cli;
    cli.start(QUENLITH_CLI_PATH, args);
    if (!cli.waitForFinished(120000)) return -1;
    return cli.exitCode();
}

template <typename Test> int countPixels(const QImage& image, Test test) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += test(QColor(image.pixel(x, y)));
    return n;
}

// Pixels of the drawing's colours, including the smoothed edges of text.
bool bluish(const QColor& c) {
    return c.blue() > 150 && c.red() < 120 && c.green() < 120;
}
bool reddish(const QColor& c) {
    return c.red() > 150 && c.green() < 120 && c.blue() < 120;
}
bool black(const QColor& c) {
    return c == QColor(Qt::black);
}
bool white(const QColor& c) {
    return c == QColor(Qt::white);
}

class WindowRunTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(work.isValid());
        workDir = QDir(work.path()).canonicalPath();
        assignDirectory(workDir);
        window->setFixedSeed(4242u);
    }
    void set(const char* name, const QString& text) { child<QLineEdit>(name)->setText(text); }
    void check(const char* name, bool on = true) { child<QCheckBox>(name)->setChecked(on); }
    QString file(const QString& name) const { return workDir + "/" + name; }

    QTemporaryDir work;
    QString workDir;
};

} // namespace

TEST_F(WindowRunTest, SeededRunWritesTheFilesOfTheCommandLine) {
    set("edtSampleSize", "8");
    set("edtPopulationSize", "500");
    check("chkMultipleSims");
    set("edtNumberSimulations", "5");
    set("edtMutationRate", "0.00001");
    check("chkSeqOut");
    check("chkSeqDiversity");
    child<QRadioButton>("radHKY85")->click();
    set("edtFreqA", "0.3");
    check("chkArlequin");
    ASSERT_TRUE(pressRunAndWait());
    ASSERT_TRUE(messages.empty()) << messages[0].text.toStdString();
    EXPECT_TRUE(window->runDone());

    QTemporaryDir cliWork, images;
    const QString cliDir = QDir(cliWork.path()).canonicalPath();
    ASSERT_EQ(runCli({"--seed",          "4242",
                      "--workdir",       cliDir,
                      "--sample-size",   "8",
                      "--pop-size",      "500",
                      "--sims",          "5",
                      "--mutation-rate", "0.00001",
                      "--seq-out",       "--seq-diversity",
                      "--model",         "HKY85",
                      "--freq-a",        "0.3",
                      "--arlequin",      "--quiet",
                      "--image",         images.path() + "/cli.bmp"}),
              0);

    const QStringList ours = filesBelow(workDir);
    EXPECT_EQ(ours, filesBelow(cliDir));
    EXPECT_TRUE(ours.contains("NewickTrees.tre"));
    EXPECT_TRUE(ours.contains("TreeMatFile.txt"));
    for (const QString& name : ours) {
        QByteArray a = readAll(file(name)), b = readAll(cliDir + "/" + name);
        if (name == "logFile.txt") {
            a = withoutClockLines(a);
            b = withoutClockLines(b);
        }
        // The batch file names its projects by their path in the working directory.
        a.replace(workDir.toUtf8(), "WorkDir");
        b.replace(cliDir.toUtf8(), "WorkDir");
        EXPECT_TRUE(a == b) << name.toStdString();
    }

    // The progress display ends full: (k - 1) * simulations, at the last simulation.
    auto* bar = child<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar->maximum(), 7 * 5);
    EXPECT_EQ(bar->value(), 7 * 5);
    EXPECT_EQ(child<QLineEdit>("memSimNum")->text(), "5");

    // Saving the drawing on screen gives the command line's image, as BMP under a .jpg name.
    const QString saved = images.path() + "/window.jpg";
    window->setSaveNameChooser([&] { return saved; });
    child<QPushButton>("BitBtn3")->click();
    const QByteArray bytes = readAll(saved);
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_TRUE(bytes.startsWith("BM"));
    QImageReader reader(saved);
    reader.setDecideFormatFromContent(true);
    EXPECT_EQ(reader.format(), "bmp");
    EXPECT_EQ(reader.size(), QSize(633, 529));
    EXPECT_TRUE(bytes == readAll(images.path() + "/cli.bmp"));
}

TEST_F(WindowRunTest, DefaultRunDrawsTheLastGenealogy) {
    EXPECT_FALSE(child<GenealogyView>("Image1")->hasDrawing());
    ASSERT_TRUE(pressRunAndWait());
    ASSERT_TRUE(messages.empty());
    const QImage& picture = window->picture();
    ASSERT_EQ(picture.size(), QSize(633, 529));
    EXPECT_TRUE(child<GenealogyView>("Image1")->hasDrawing());
    // Blue time labels and a black tree on white.
    EXPECT_GT(countPixels(picture, bluish), 100);
    EXPECT_GT(countPixels(picture, black), 490);
    EXPECT_EQ(window->shownRecord(), 1);

    // The command line draws the same picture for the same seed and values.
    QTemporaryDir cliWork;
    const QString image = cliWork.path() + "/g.bmp";
    ASSERT_EQ(runCli({"--seed", "4242", "--workdir", cliWork.path(), "--quiet", "--image", image}),
              0);
    EXPECT_EQ(QImage(image, "BMP").convertToFormat(QImage::Format_RGB32),
              picture.convertToFormat(QImage::Format_RGB32));
}

TEST_F(WindowRunTest, BrowsingA100SimulationRun) {
    set("edtSampleSize", "6");
    set("edtPopulationSize", "300");
    set("edtMutationRate", "0.0001");
    check("chkMultipleSims");
    ASSERT_TRUE(pressRunAndWait());
    ASSERT_TRUE(messages.empty());
    EXPECT_EQ(window->shownRecord(), 100);
    const QImage end = window->picture();

    auto* forward = child<QPushButton>("BitBtn1");
    auto* back = child<QPushButton>("BitBtn2");
    forward->click();
    EXPECT_EQ(window->shownRecord(), 1);
    const QImage first = window->picture();
    EXPECT_NE(first, end);
    EXPECT_GT(countPixels(first, reddish), 0); // mutation ticks

    back->click();
    EXPECT_EQ(window->shownRecord(), 100);
    // The same genealogy as at the end of the run, with the caption added at the bottom left.
    const QImage again = window->picture();
    bool captionDiffers = false, restSame = true;
    for (int y = 0; y < 529; ++y)
        for (int x = 0; x < 633; ++x) {
            const bool inCaption = x < 200 && y >= 505;
            if (again.pixel(x, y) == end.pixel(x, y)) continue;
            if (inCaption)
                captionDiffers = true;
            else
                restSame = false;
        }
    EXPECT_TRUE(captionDiffers);
    EXPECT_TRUE(restSame);

    back->click();
    EXPECT_EQ(window->shownRecord(), 99);
    forward->click();
    forward->click();
    EXPECT_EQ(window->shownRecord(), 1);
    EXPECT_EQ(window->picture(), first);

    // The browser keeps the last run's values: controls changed since do not matter, except
    // the mutation switch, read at every drawing.
    set("edtSampleSize", "20");
    check("chkMsats");
    set("edtNumLoci", "3");
    back->click();
    forward->click();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window->picture(), first);
    check("chkDrawMut", false);
    back->click();
    forward->click();
    EXPECT_EQ(window->shownRecord(), 1);
    EXPECT_EQ(countPixels(window->picture(), reddish), 0);
}

TEST_F(WindowRunTest, WarningsBeforeAnyRunAndForRefusedRuns) {
    for (const char* button : {"BitBtn1", "BitBtn2", "BitBtn3"}) {
        messages.clear();
        child<QPushButton>(button)->click();
        EXPECT_TRUE(lastMessageIs(Kind::Warning, "Please run simulations first")) << button;
    }
    set("edtSampleSize", "0");
    ASSERT_TRUE(pressRunAndWait());
    EXPECT_TRUE(lastMessageIs(Kind::Warning, "Please insert Sample and Population Sizes"));
    EXPECT_FALSE(window->runDone());
    // The two distribution files are created before the check; nothing else.
    EXPECT_EQ(filesBelow(workDir), QStringList({"CoalDistrib.csv", "MutDistrib.csv"}));

    set("edtSampleSize", "1");
    ASSERT_TRUE(pressRunAndWait());
    EXPECT_TRUE(lastMessageIs(Kind::Warning, "Sample Size (k) must be at least 2"));
    messages.clear();
    child<QPushButton>("BitBtn1")->click();
    EXPECT_TRUE(lastMessageIs(Kind::Warning, "Please run simulations first"));
}

TEST_F(WindowRunTest, RunErrorsShowTheStandardTextAndThePath) {
    QTemporaryDir gone;
    const QString path = QDir(gone.path()).canonicalPath();
    assignDirectory(path);
    gone.remove();
    ASSERT_TRUE(pressRunAndWait());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, Kind::Error);
    EXPECT_EQ(messages[0].text, "File not found");
    EXPECT_TRUE(messages[0].detail.startsWith(path)) << messages[0].detail.toStdString();
    EXPECT_FALSE(window->runDone());
    // The window is usable again.
    EXPECT_TRUE(child<QPushButton>("btnRunSimulation")->isEnabled());
    EXPECT_TRUE(child<QLineEdit>("edtSampleSize")->isEnabled());
}

TEST_F(WindowRunTest, MissingRecordsAndMatrixFiles) {
    set("edtSampleSize", "5");
    check("chkMultipleSims");
    set("edtNumberSimulations", "3");
    ASSERT_TRUE(pressRunAndWait());
    const QImage end = window->picture();

    QFile::resize(file("TreeMatFile.txt"), 0);
    child<QPushButton>("BitBtn1")->click();
    EXPECT_TRUE(lastMessageIs(Kind::Error, "Genealogy 1 not found"));
    EXPECT_EQ(window->picture(), end);

    QFile::remove(file("TreeMatFile.txt"));
    child<QPushButton>("BitBtn1")->click();
    EXPECT_TRUE(lastMessageIs(Kind::Error, "File not found"));
    EXPECT_TRUE(messages.back().detail.endsWith("TreeMatFile.txt"));
    EXPECT_EQ(window->picture(), end);
}

// A run that fails after rewriting the matrix files must not let the browser show its
// genealogies under the captions of the run before.
TEST_F(WindowRunTest, FailedRunLeavesNothingToBrowse) {
    set("edtSampleSize", "5");
    check("chkMultipleSims");
    set("edtNumberSimulations", "3");
    ASSERT_TRUE(pressRunAndWait());
    check("chkSeqInput");
    set("edtSeqFile", "missing-root.txt");
    ASSERT_TRUE(pressRunAndWait());
    EXPECT_TRUE(lastMessageIs(Kind::Error, "File not found"));
    child<QPushButton>("BitBtn1")->click();
    EXPECT_TRUE(lastMessageIs(Kind::Warning, "Please run simulations first"));
}

TEST_F(WindowRunTest, NoSimulationLeavesNothingToDrawOrBrowse) {
    check("chkMultipleSims");
    set("edtNumberSimulations", "0");
    ASSERT_TRUE(pressRunAndWait());
    ASSERT_TRUE(messages.empty());
    EXPECT_TRUE(window->runDone());
    EXPECT_TRUE(window->picture().isNull());
    EXPECT_FALSE(child<GenealogyView>("Image1")->hasDrawing());
    child<QPushButton>("BitBtn1")->click();
    EXPECT_TRUE(lastMessageIs(Kind::Warning, "Please run simulations first"));
    child<QPushButton>("BitBtn2")->click();
    EXPECT_TRUE(lastMessageIs(Kind::Warning, "Please run simulations first"));

    // Saving writes the blank picture.
    QTemporaryDir images;
    const QString saved = images.path() + "/blank.bmp";
    window->setSaveNameChooser([&] { return saved; });
    messages.clear();
    child<QPushButton>("BitBtn3")->click();
    EXPECT_TRUE(messages.empty());
    const QImage blank(saved, "BMP");
    ASSERT_EQ(blank.size(), QSize(633, 529));
    EXPECT_EQ(countPixels(blank, white), 633 * 529);

    // A cancelled save writes nothing.
    window->setSaveNameChooser([] { return QString(); });
    QFile::remove(saved);
    child<QPushButton>("BitBtn3")->click();
    EXPECT_FALSE(QFile::exists(saved));
}

TEST_F(WindowRunTest, ClosingDuringARunStopsAfterTheCurrentSimulation) {
    set("edtSampleSize", "40");
    set("edtPopulationSize", "20000");
    check("chkMultipleSims");
    set("edtNumberSimulations", "100000");
    window->show();
    QSignalSpy finished(window.get(), &TfrmTolvarin::runFinished);
    child<QPushButton>("btnRunSimulation")->click();
    ASSERT_TRUE(window->isRunning());

    // The window keeps working while the run goes on: the counter moves, input is locked.
    auto* counter = child<QLineEdit>("memSimNum");
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter->text().toInt() >= 3; }, 60000));
    EXPECT_FALSE(child<QPushButton>("btnRunSimulation")->isEnabled());
    EXPECT_FALSE(child<QLineEdit>("edtSampleSize")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("BitBtn1")->isEnabled());
    EXPECT_FALSE(child<QCheckBox>("chkDrawMut")->isEnabled());
    EXPECT_GT(child<QProgressBar>("ProgressBar1")->value(), 0);
    EXPECT_EQ(finished.count(), 0);

    window->close();
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(finished.count() > 0 || finished.wait(60000));
    EXPECT_FALSE(window->isRunning());

    // Every simulation begun was finished and written; no log, no summary.
    const QList<QByteArray> newick = readAll(file("NewickTrees.tre")).split('\n');
    const int trees = static_cast<int>(newick.size()) - 1;
    const QByteArray tree = readAll(file("TreeMatFile.txt"));
    EXPECT_GE(trees, 3);
    EXPECT_LT(trees, 100000);
    EXPECT_EQ(tree.count('#'), trees);
    EXPECT_EQ(tree.count('\n'), trees * 40);
    EXPECT_TRUE(tree.endsWith("\r\n"));
    EXPECT_FALSE(QFile::exists(file("logFile.txt")));
    EXPECT_FALSE(QFile::exists(file("outfile.csv")));
}

TEST_F(WindowRunTest, SaveDialogWritesUnderTheNameEnteredOrNothing) {
    set("edtSampleSize", "4");
    ASSERT_TRUE(pressRunAndWait());
    auto* dialog = child<QFileDialog>("dlgSaveFile");
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    QTemporaryDir images;
    const QString name = images.path() + "/tree.jpg";

    // Types a name into the dialog's name box, then confirms or cancels.
    auto answer = [dialog](const QString& typed, bool confirm) {
        QTimer::singleShot(100, dialog, [dialog, typed, confirm] {
            auto* nameBox = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!nameBox) {
                dialog->reject();
                ADD_FAILURE() << "the save dialog has no name box";
                return;
            }
            nameBox->setText(typed);
            if (confirm)
                static_cast<QDialog*>(dialog)->accept(); // with the file dialog's own checks
            else
                dialog->reject();
        });
    };
    answer(name, true);
    child<QPushButton>("BitBtn3")->click();
    EXPECT_TRUE(readAll(name).startsWith("BM"));
    EXPECT_EQ(QImage(name, "BMP").convertToFormat(QImage::Format_RGB32),
              window->picture().convertToFormat(QImage::Format_RGB32));

    const QString other = images.path() + "/other.bmp";
    answer(other, false);
    child<QPushButton>("BitBtn3")->click();
    EXPECT_FALSE(QFile::exists(other));
    EXPECT_TRUE(messages.empty());
}
