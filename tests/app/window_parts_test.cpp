// The parts of the window on their own: the parameter controls made from the table and read
// back through it, the run controller without a window, and the genealogy pane.
#include "app/genealogy_pane.h"
#include "app/parameter_tabs.h"
#include "app/run_controller.h"
#include "window_fixture.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <random>

using namespace quenlith;

namespace {

// The controls of an entry's field: the edit box, check box or list, or its radio buttons.
std::vector<QWidget*> controlsOf(const QWidget& root, const ParameterEntry& e) {
    std::vector<QWidget*> found;
    if (e.kind != ParameterKind::Choice) {
        found.push_back(root.findChild<QWidget*>(e.field));
    } else if (e.place.choice == ChoiceControl::List) {
        found.push_back(root.findChild<QComboBox*>(e.place.control));
    } else {
        for (const ParameterChoice& c : e.choices)
            found.push_back(root.findChild<QRadioButton*>(c.control));
    }
    return found;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

} // namespace

TEST_F(WindowTest, EveryTabbedEntryHasItsControlOfItsKindAtItsPlace) {
    auto* tabs = child<QTabWidget>("PageControl1");
    int controls = 0;
    for (const ParameterEntry& e : parameterTable()) {
        if (e.tab == ParameterTab::None) continue;
        if (!hasParameterControl(e)) {
            // Only the working directory, chosen in the directory tree, has none.
            EXPECT_EQ(std::string(e.field), "WorkDir");
            continue;
        }
        ++controls;
        for (QWidget* w : controlsOf(*window, e)) {
            ASSERT_NE(w, nullptr) << e.field;
            EXPECT_EQ(sheetOf(tabs, w), static_cast<int>(e.tab)) << e.field;
        }
        const QWidget* w = controlsOf(*window, e).front();
        switch (e.kind) {
        case ParameterKind::Text:
        case ParameterKind::CheckedText:
            EXPECT_NE(qobject_cast<const QLineEdit*>(w), nullptr) << e.field;
            break;
        case ParameterKind::Flag:
            EXPECT_NE(qobject_cast<const QCheckBox*>(w), nullptr) << e.field;
            break;
        case ParameterKind::Choice:
            if (e.place.choice == ChoiceControl::List) {
                const auto* list = qobject_cast<const QComboBox*>(w);
                ASSERT_NE(list, nullptr) << e.field;
                ASSERT_EQ(list->count(), static_cast<int>(e.choices.size())) << e.field;
                for (size_t i = 0; i < e.choices.size(); ++i)
                    EXPECT_EQ(list->itemText(static_cast<int>(i)), e.choices[i].caption);
            } else {
                for (size_t i = 0; i < e.choices.size(); ++i) {
                    const auto* radio =
                        qobject_cast<const QRadioButton*>(controlsOf(*window, e)[i]);
                    ASSERT_NE(radio, nullptr) << e.choices[i].control;
                    EXPECT_EQ(radio->text(), e.choices[i].caption);
                    // The radio buttons of one field exclude each other, and only them.
                    ASSERT_NE(radio->group(), nullptr);
                    EXPECT_EQ(radio->group()->buttons().size(), static_cast<int>(e.choices.size()));
                    if (e.place.choice == ChoiceControl::Radios) {
                        EXPECT_EQ(radio->pos(), QPoint(e.choices[i].x, e.choices[i].y));
                    }
                }
            }
            break;
        case ParameterKind::Number:
            ADD_FAILURE() << e.field << ": a number of the command line only on a sheet";
        }
        // Placed where the entry says, with its tip and its caption's label.
        if (e.place.y > 0) {
            const QWidget* placed =
                *e.place.control ? window->findChild<QWidget*>(e.place.control) : w;
            ASSERT_NE(placed, nullptr) << e.field;
            EXPECT_EQ(placed->pos(), QPoint(e.place.x, e.place.y)) << e.field;
            EXPECT_EQ(placed->toolTip().toStdString(), e.place.tip) << e.field;
        }
        if (*e.place.label) {
            auto* label = child<QLabel>(e.place.label);
            if (!label) continue;
            EXPECT_EQ(label->text().toStdString(), e.caption) << e.field;
            EXPECT_EQ(label->pos(), QPoint(e.place.labelX, e.place.labelY)) << e.field;
            EXPECT_EQ(sheetOf(tabs, label), static_cast<int>(e.tab)) << e.field;
        }
    }
    EXPECT_EQ(controls, 60); // 55 edit and check boxes, three radio groups and two lists
}

TEST_F(WindowTest, RandomControlValuesReadBackThroughTheTable) {
    std::mt19937 random(20261209u);
    const auto pick = [&random](int n) {
        return std::uniform_int_distribution<int>(0, n - 1)(random);
    };
    // Check boxes first: ticking the model's box chooses streams, a choice set after it.
    std::vector<const ParameterEntry*> entries;
    for (const ParameterEntry& e : parameterTable())
        if (hasParameterControl(e)) entries.push_back(&e);
    std::stable_partition(entries.begin(), entries.end(),
                          [](const ParameterEntry* e) { return e->kind == ParameterKind::Flag; });
    for (int round = 0; round < 200; ++round) {
        // Each control set to a random value; the record expected set from the same values.
        FormValues expected;
        expected.WorkDir = window->workDir().toStdString();
        for (const ParameterEntry* entry : entries) {
            const ParameterEntry& e = *entry;
            const std::vector<QWidget*> controls = controlsOf(*window, e);
            switch (e.kind) {
            case ParameterKind::Text:
            case ParameterKind::CheckedText: {
                std::string text;
                const int length = pick(12);
                for (int i = 0; i < length; ++i)
                    text += " .0123456789abcXYZ:,-_/"[pick(23)];
                static_cast<QLineEdit*>(controls[0])->setText(QString::fromStdString(text));
                ASSERT_TRUE(e.set(expected, text));
                break;
            }
            case ParameterKind::Flag: {
                const bool on = pick(2) == 1;
                static_cast<QCheckBox*>(controls[0])->setChecked(on);
                ASSERT_TRUE(e.set(expected, on ? "1" : "0"));
                break;
            }
            case ParameterKind::Choice: {
                const int i = pick(static_cast<int>(e.choices.size()));
                if (e.place.choice == ChoiceControl::List)
                    static_cast<QComboBox*>(controls[0])->setCurrentIndex(i);
                else
                    static_cast<QRadioButton*>(controls[static_cast<size_t>(i)])->setChecked(true);
                ASSERT_TRUE(
                    e.set(expected, std::to_string(e.choices[static_cast<size_t>(i)].value)));
                break;
            }
            case ParameterKind::Number:
                break;
            }
        }
        const FormValues read = window->formValues();
        for (const ParameterEntry& e : parameterTable())
            ASSERT_EQ(e.get(read), e.get(expected)) << e.field << " in round " << round;
    }
    // The enumerations by their controls' names, independently of the table.
    child<QRadioButton>("radF81")->setChecked(true);
    child<QRadioButton>("radAllele")->setChecked(true);
    child<QRadioButton>("rdgOutputItem3")->setChecked(true);
    child<QComboBox>("cmbRandom")->setCurrentIndex(1);
    child<QComboBox>("cmbMergers")->setCurrentIndex(1);
    const FormValues f = window->formValues();
    EXPECT_EQ(f.model, SubstitutionModel::F81);
    EXPECT_EQ(f.msatModel, MsatModel::RandomAlleles);
    EXPECT_EQ(f.rdgOutput, OutputFormat::MrBayes);
    EXPECT_EQ(f.rngKind, RandomKind::Streams);
    EXPECT_EQ(f.mergers, MergeRule::All);
}

TEST(ParameterControls, ASheetOfItsOwnReadsBackTheDefaults) {
    // The controls of every sheet on one bare widget give the default record.
    QWidget sheet;
    for (ParameterTab tab :
         {ParameterTab::Main, ParameterTab::Sequence, ParameterTab::Microsatellite,
          ParameterTab::Demographics, ParameterTab::Files})
        addParameterControls(&sheet, tab);
    const FormValues defaults;
    const FormValues read = readParameterControls(sheet);
    for (const ParameterEntry& e : parameterTable())
        EXPECT_EQ(e.get(read), e.get(defaults)) << e.field;
    // Fields whose controls are missing keep their defaults.
    QWidget empty;
    const FormValues none = readParameterControls(empty);
    for (const ParameterEntry& e : parameterTable())
        EXPECT_EQ(e.get(none), e.get(defaults)) << e.field;
}

namespace {

class RunControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(work.isValid());
        form.WorkDir = QDir(work.path()).canonicalPath().toStdString();
        form.edtSampleSize = "8";
        form.edtPopulationSize = "200";
    }
    // Runs to the end; the result as the finished signal gave it.
    bool runToEnd(RunController& controller, uint64_t seed, RunResult& result) {
        QSignalSpy finished(&controller, &RunController::finished);
        bool runningAtFinish = true;
        auto connection =
            QObject::connect(&controller, &RunController::finished, [&](const RunResult& r) {
                result = r;
                runningAtFinish = controller.isRunning();
            });
        if (!controller.start(form, seed)) return false;
        const bool ended = finished.wait(120000);
        QObject::disconnect(connection);
        EXPECT_FALSE(runningAtFinish);
        return ended && finished.count() == 1;
    }

    QTemporaryDir work;
    FormValues form;
};

// Counts nothing: a run driven by the calling thread, for comparison.
class NoObserver : public RunObserver {};

} // namespace

TEST_F(RunControllerTest, RunsLikeADirectRunAndDrawsItsLastGenealogy) {
    RunController controller;
    QSignalSpy progress(&controller, &RunController::progress);
    RunResult result;
    ASSERT_TRUE(runToEnd(controller, 99, result));
    ASSERT_FALSE(result.failed) << result.errorText.toStdString();
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->status, RunStatus::Completed);
    EXPECT_EQ(result.outcome->simsDone, 1);
    EXPECT_TRUE(result.drawn);
    EXPECT_GE(progress.count(), 1); // at least the last report, as the run ends
    EXPECT_EQ(progress.last().at(0).toInt(), 1);

    // The same form and seed run on this thread write the same genealogy files.
    QTemporaryDir direct;
    FormValues same = form;
    same.WorkDir = QDir(direct.path()).canonicalPath().toStdString();
    NoObserver observer;
    const RunOutcome outcome = quenlith::RunSimulation(same, 99, observer);
    EXPECT_EQ(outcome.status, RunStatus::Completed);
    for (const char* name : {"NewickTrees.tre", "TreeMatFile.txt", "outfile.csv"}) {
        const QByteArray a = readAll(QString::fromStdString(form.WorkDir) + "/" + name);
        EXPECT_FALSE(a.isEmpty()) << name;
        EXPECT_EQ(a, readAll(QString::fromStdString(same.WorkDir) + "/" + name)) << name;
    }
}

TEST_F(RunControllerTest, StopsOnRequestAndRefusesASecondStart) {
    form.chkMultipleSims = true;
    form.edtNumberSimulations = "1000000";
    form.edtPopulationSize = "5000";
    RunController controller;
    QSignalSpy finished(&controller, &RunController::finished);
    RunResult result;
    QObject::connect(&controller, &RunController::finished,
                     [&](const RunResult& r) { result = r; });
    // Stopped as soon as it reports a simulation under way.
    QObject::connect(&controller, &RunController::progress, [&](int32_t simulation) {
        if (simulation >= 2) controller.stop();
    });
    ASSERT_TRUE(controller.start(form, 5));
    EXPECT_TRUE(controller.isRunning());
    EXPECT_FALSE(controller.start(form, 6));
    ASSERT_TRUE(finished.wait(120000));
    EXPECT_FALSE(controller.isRunning());
    EXPECT_TRUE(controller.stopRequested());
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->status, RunStatus::Stopped);
    EXPECT_GE(result.outcome->simsDone, 1);
    EXPECT_LT(result.outcome->simsDone, 1000000);
    EXPECT_FALSE(result.drawn);
}

TEST_F(RunControllerTest, ReportsTheRunErrorWithItsPath) {
    form.chkSeqInput = true;
    form.edtSeqFile = "missing-root.txt";
    RunController controller;
    RunResult result;
    ASSERT_TRUE(runToEnd(controller, 1, result));
    EXPECT_TRUE(result.failed);
    EXPECT_FALSE(result.outcome);
    EXPECT_EQ(result.errorText, "File not found");
    EXPECT_TRUE(result.errorDetail.endsWith("missing-root.txt"))
        << result.errorDetail.toStdString();
    // A refused run is an outcome, not a failure.
    form.chkSeqInput = false;
    form.edtSampleSize = "1";
    ASSERT_TRUE(runToEnd(controller, 1, result));
    EXPECT_FALSE(result.failed);
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->status, RunStatus::Rejected);
    EXPECT_FALSE(result.outcome->warning.empty());
}

TEST_F(RunControllerTest, DestroyedDuringARunStopsItWithoutASignal) {
    form.chkMultipleSims = true;
    form.edtNumberSimulations = "1000000";
    bool signalled = false;
    {
        RunController controller;
        QObject::connect(&controller, &RunController::finished, [&] { signalled = true; });
        ASSERT_TRUE(controller.start(form, 3));
        QTest::qWait(100);
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(signalled);
}

TEST_F(RunControllerTest, GenealogyPaneBrowsesJumpsAndSaves) {
    GenealogyPane pane;
    std::vector<QString> warnings, errors;
    QObject::connect(&pane, &GenealogyPane::warning,
                     [&](const QString& text) { warnings.push_back(text); });
    QObject::connect(&pane, &GenealogyPane::error,
                     [&](const QString& text, const QString&) { errors.push_back(text); });
    auto* forward = pane.findChild<QPushButton*>("BitBtn1");
    auto* back = pane.findChild<QPushButton*>("BitBtn2");
    auto* save = pane.findChild<QPushButton*>("BitBtn3");
    auto* simulation = pane.findChild<QSpinBox*>("spnSimulation");
    auto* show = pane.findChild<QPushButton*>("btnShowGenealogy");
    ASSERT_TRUE(forward && back && save && simulation && show);
    forward->click();
    save->click();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], "Please run simulations first");
    EXPECT_EQ(warnings[1], "Please run simulations first");
    EXPECT_FALSE(show->isEnabled());

    form.chkMultipleSims = true;
    form.edtNumberSimulations = "4";
    RunController controller;
    RunResult result;
    ASSERT_TRUE(runToEnd(controller, 17, result));
    ASSERT_TRUE(result.outcome && result.drawn);
    pane.runStarted();
    pane.runEnded(*result.outcome, &result.drawing);
    EXPECT_EQ(pane.browser().shownRecord(), 4);
    EXPECT_EQ(simulation->value(), 4);
    EXPECT_TRUE(show->isEnabled());
    const QImage last = pane.picture();
    ASSERT_FALSE(last.isNull());

    // Forward wraps round to the first, back returns to the last.
    forward->click();
    EXPECT_EQ(pane.browser().shownRecord(), 1);
    const QImage first = pane.picture();
    forward->click();
    forward->click();
    EXPECT_EQ(pane.browser().shownRecord(), 3);
    const QImage third = pane.picture();
    back->click();
    back->click();
    EXPECT_EQ(pane.browser().shownRecord(), 1);
    EXPECT_EQ(pane.picture(), first);
    // The jump draws the same picture as browsing to the record.
    simulation->setValue(3);
    show->click();
    EXPECT_EQ(pane.browser().shownRecord(), 3);
    EXPECT_EQ(pane.picture(), third);
    EXPECT_NE(third, first);

    // Saved under the name chosen, as a picture of its own kind.
    const QString name = QDir(work.path()).filePath("pane.png");
    pane.setSaveNameChooser([&] { return name; });
    save->click();
    EXPECT_TRUE(errors.empty());
    QImageReader reader(name);
    EXPECT_EQ(reader.format(), "png");
    EXPECT_FALSE(reader.read().isNull());

    // A refused run puts the picture of before it back; a failed one leaves nothing to browse.
    pane.runStarted();
    EXPECT_TRUE(pane.picture().isNull());
    pane.runRejected();
    EXPECT_EQ(pane.picture(), third);
    pane.runStarted();
    pane.runFailed();
    EXPECT_FALSE(pane.browser().hasRecords());
    warnings.clear();
    forward->click();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_FALSE(show->isEnabled());
}

TEST_F(WindowTest, KeyboardFocusFollowsTheSheetsRowByRow) {
    // From each control the Tab key goes to the next one as the sheet is read.
    const std::vector<std::vector<const char*>> rows = {
        {"edtSampleSize", "edtPopulationSize", "chkMultipleSims", "edtNumberSimulations", "edtSeed",
         "cmbRandom", "memLastSeed", "btnRunSimulation", "btnStop", "chkDrawMut", "memSimNum",
         "cmbMergers"},
        {"chkSeqInput", "edtSeqFile", "edtMutationRate", "chkDiploid"},
        {"chkInvarSites", "edtI", "chkShapeParameter", "edtAlpha", "chkSeqDiversity"},
        {"chkVarRepSuc", "edtVarRepSuc", "edtMeanOffsp", "chkFluctuatingN"},
        {"chkDemes", "btnModelPicture", "edtDemes", "btnDemesBrowse", "edtSamples", "edtPloidy"},
        {"memDir", "edtTmrca", "edtNewickTrees"},
        {"chkEachSim", "edtEachSim", "edtEachSimFormat"},
    };
    for (const auto& row : rows)
        for (size_t i = 1; i < row.size(); ++i) {
            QWidget* from = child<QWidget>(row[i - 1]);
            QWidget* to = child<QWidget>(row[i]);
            ASSERT_TRUE(from && to);
            // Labels stand in the chain too; Tab passes over what takes no focus or is hidden.
            QWidget* next = from->nextInFocusChain();
            while (next != from && (!(next->focusPolicy() & Qt::TabFocus) || next->isHidden()))
                next = next->nextInFocusChain();
            EXPECT_EQ(next, to) << row[i - 1] << " -> " << row[i] << ", not "
                                << next->metaObject()->className() << " "
                                << next->objectName().toStdString();
        }
}
