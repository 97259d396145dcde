// The window's controls: names, captions, defaults, places, and the record they fill.
#include "window_fixture.h"

#include "run/output_files.h"
#include "run/parameter_table.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>

using namespace quenlith;

namespace {

enum Sheet { Main, Sequence, Microsatellite, Demographics, Files };

struct LabelSpec {
    Sheet sheet;
    const char* name;
    const char* caption;
    bool heading;
};
struct EditSpec {
    Sheet sheet;
    const char* name;
    const char* text;
};
struct CheckSpec {
    Sheet sheet;
    const char* name;
    const char* caption;
    bool checked;
};

const LabelSpec kLabels[] = {
    {Main, "Label6", "Coalescent parameters", true},
    {Main, "lblSampleSize", "Sample Size (k)", false},
    {Main, "lblPopulationSize", "Population Size (N)", false},
    {Sequence, "lblDNASeqParam", "DNA sequence parameters", true},
    {Sequence, "lblSequenceLength", "Sequence Length", false},
    {Sequence, "lblMutationRate", "MutationRate (u)", false},
    {Sequence, "lblMutationRateExpl", "mutations/site/generation", false},
    {Sequence, "lblDNAParams", "DNA mutation model", true},
    {Sequence, "lblBaseFrequencies", "Base Frequencies", false},
    {Sequence, "lblFreqA", "A:", false},
    {Sequence, "lblFreqC", "C:", false},
    {Sequence, "lblFreqG", "G:", false},
    {Sequence, "lblTiTvRatio", "Ti:Tv ratio", false},
    {Sequence, "Label8", "Output", true},
    {Sequence, "lblSeqDataOut", "Sequence data output:", false},
    {Microsatellite, "lblMsatParam", "Microsatellite parameters", true},
    {Microsatellite, "lblNoLoci", "Number of loci", false},
    {Microsatellite, "Label1", "Microsatellite Parameters file:", false},
    {Microsatellite, "Label9", "Output", true},
    {Microsatellite, "lblMsatOut", "Microsatellite data output:", false},
    {Demographics, "lblFactorsN", "Factors influencing N", true},
    {Demographics, "Label10", "mean number of offspring:", false},
    {Demographics, "lblGrowthStart", "Start of Population growth:", false},
    {Demographics, "lblGrowthEnd", "End of Population growth:", false},
    {Demographics, "lblFlucN", "% Population size change per gen:", false},
    {Files, "lblGeneral", "General outputs", true},
    {Files, "lblOutDir", "Working Directory:", false},
    {Files, "lblTMRCA", "Output File:", false},
    {Files, "lblNexusTrees", "Newick tree file:", false},
    {Files, "lblMutDistrib", "Mutation distribution:", false},
    {Files, "lblCoalDistrib", "Coalescent distribution:", false},
    {Files, "lblLogFile", "Log File:", false},
};

const EditSpec kEdits[] = {
    {Main, "edtSampleSize", "50"},
    {Main, "edtPopulationSize", "10000"},
    {Main, "edtNumberSimulations", "100"},
    {Sequence, "edtSeqLength", "1000"},
    {Sequence, "edtSeqFile", "seqin.txt"},
    {Sequence, "edtMutationRate", "0.0000001"},
    {Sequence, "edtFreqA", "0.25"},
    {Sequence, "edtFreqC", "0.25"},
    {Sequence, "edtFreqG", "0.25"},
    {Sequence, "edtTiTv", "2"},
    {Sequence, "edtI", "0.0"},
    {Sequence, "edtAlpha", "1"},
    {Sequence, "edtSeqOut", "seqout.txt"},
    {Microsatellite, "edtNumLoci", "1"},
    {Microsatellite, "edtMsatIn", "msatparam.txt"},
    {Microsatellite, "edtMSatData", "MsatData.csv"},
    {Demographics, "edtVarRepSuc", "1"},
    {Demographics, "edtMeanOffsp", "2"},
    {Demographics, "edtGrowthStart", "0"},
    {Demographics, "edtGrowthEnd", "500"},
    {Demographics, "edtChangeN", "0.1"},
    {Files, "edtTmrca", "outfile.csv"},
    {Files, "edtNewickTrees", "NewickTrees.tre"},
    {Files, "edtMutDistrib", "MutDistrib.csv"},
    {Files, "edtCoalDistrib", "CoalDistrib.csv"},
    {Files, "edtLogFile", "logFile.txt"},
};

const CheckSpec kChecks[] = {
    {Main, "chkMultipleSims", "Multiple Simulations", false},
    {Main, "chkDrawMut", "Draw mutations on genealogy?", true},
    {Sequence, "chkSeqInput", "Input DNA sequence", false},
    {Sequence, "chkDiploid", "Diploid", false},
    {Sequence, "chkSegSites", "Export Segregating Sites from infinite sites model", true},
    {Sequence, "chkScatterMut", "Scatter Mutations on simulated DNA sequence", true},
    {Sequence, "chkInvarSites", "Proportion Invariable Sites", false},
    {Sequence, "chkShapeParameter", "Gamma distributed rate variation", false},
    {Sequence, "chkSeqDiversity", "Calculate Diversity Indices", false},
    {Sequence, "chkSeqOut", "Generate sequence output file", false},
    {Microsatellite, "chkMsats", "Simulate microsatellite data", false},
    {Microsatellite, "chkMSatOut", "Generate Microsatellite data file", false},
    {Microsatellite, "chkMSatDiversity", "Calculate Diversity Indices", false},
    {Demographics, "chkVarRepSuc", "Variance in reproductive success", false},
    {Demographics, "chkFluctuatingN", "Fluctuating Population Size", false},
    {Files, "chkArlequin", "Create Arlequin project/batch files", false},
};

const CheckSpec kRadios[] = {
    {Sequence, "radJC69", "JC69", true},
    {Sequence, "radK2P", "Kimura 2-parameter", false},
    {Sequence, "radF81", "F81", false},
    {Sequence, "radHKY85", "HKY85", false},
    {Microsatellite, "radInfiniteAlleles", "Infinite alleles model", true},
    {Microsatellite, "radStepwise", "Stepwise Mutation model", false},
    {Microsatellite, "radAllele", "Random Alleles model", false},
};

} // namespace

TEST_F(WindowTest, WindowSheetsAndImageArea) {
    EXPECT_EQ(window->windowTitle(), "Quenlith 0.3b");
    EXPECT_EQ(window->size(), QSize(1028, 633));
    auto* tabs = child<QTabWidget>("PageControl1");
    window->show();
    QApplication::processEvents();
    EXPECT_EQ(tabs->geometry(), QRect(0, 0, 337, 633));
    ASSERT_EQ(tabs->count(), 5);
    const char* captions[] = {"Main", "Sequence", "Microsatellite", "Demographics", "Files"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(tabs->tabText(i), captions[i]);
    EXPECT_EQ(tabs->currentIndex(), 0);

    // Right of the sheets: the genealogy with its buttons, and the plots.
    auto* right = child<QTabWidget>("PageControl2");
    ASSERT_EQ(right->count(), 2);
    EXPECT_EQ(right->tabText(0), "Genealogy");
    EXPECT_EQ(right->tabText(1), "Results");
    EXPECT_GE(right->x(), 337);
    auto* image = child<GenealogyView>("Image1");
    EXPECT_FALSE(image->hasDrawing());
    const QRectF shown = image->pictureRect();
    EXPECT_GT(shown.width(), 500); // about the specified 633 x 529 at the default size
    EXPECT_NEAR(shown.width() / shown.height(), 633.0 / 529.0, 0.01);
    const char* names[] = {"BitBtn3", "BitBtn2", "BitBtn1"};
    const QSize glyphs[] = {{48, 48}, {22, 22}, {22, 22}};
    for (int i = 0; i < 3; ++i) {
        auto* button = child<QPushButton>(names[i]);
        EXPECT_EQ(button->size(), QSize(49, 49)) << names[i];
        EXPECT_EQ(button->iconSize(), glyphs[i]) << names[i];
        EXPECT_FALSE(button->icon().isNull()) << names[i];
        if (i > 0) {
            EXPECT_EQ(button->y(), child<QPushButton>(names[i - 1])->y());
            EXPECT_GT(button->x(), child<QPushButton>(names[i - 1])->x());
        }
    }
    // Forward points right, back points left: the white head sits on the pointing side.
    const QImage forward = child<QPushButton>("BitBtn1")->icon().pixmap(22, 22).toImage();
    const QImage back = child<QPushButton>("BitBtn2")->icon().pixmap(22, 22).toImage();
    EXPECT_EQ(forward.pixelColor(12, 7), QColor(Qt::white));
    EXPECT_NE(back.pixelColor(12, 7), QColor(Qt::white));
    EXPECT_EQ(back.pixelColor(9, 7), QColor(Qt::white));
    EXPECT_NE(forward.pixelColor(9, 7), QColor(Qt::white));

    auto* dialog = child<QFileDialog>("dlgSaveFile");
    EXPECT_EQ(dialog->windowTitle(), "Save");
    EXPECT_EQ(dialog->nameFilters(), QStringList({"Bitmap (*.bmp)", "Jpeg (*.jpg)", "PNG (*.png)",
                                                  "SVG (*.svg)", "PDF (*.pdf)"}));
    EXPECT_EQ(dialog->selectedNameFilter(), "Bitmap (*.bmp)");
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(dialog->defaultSuffix().isEmpty());
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(WindowTest, EveryControlWithItsCaptionAndDefault) {
    auto* tabs = child<QTabWidget>("PageControl1");
    for (const auto& l : kLabels) {
        auto* label = child<QLabel>(l.name);
        if (!label) continue;
        EXPECT_EQ(label->text(), l.caption) << l.name;
        EXPECT_EQ(label->font().bold(), l.heading) << l.name;
        EXPECT_EQ(sheetOf(tabs, label), l.sheet) << l.name;
    }
    for (const auto& e : kEdits) {
        auto* edit = child<QLineEdit>(e.name);
        if (!edit) continue;
        EXPECT_EQ(edit->text(), e.text) << e.name;
        EXPECT_EQ(sheetOf(tabs, edit), e.sheet) << e.name;
    }
    for (const auto& c : kChecks) {
        auto* box = child<QCheckBox>(c.name);
        if (!box) continue;
        EXPECT_EQ(box->text(), c.caption) << c.name;
        EXPECT_EQ(box->isChecked(), c.checked) << c.name;
        EXPECT_EQ(sheetOf(tabs, box), c.sheet) << c.name;
    }
    for (const auto& r : kRadios) {
        auto* radio = child<QRadioButton>(r.name);
        if (!radio) continue;
        EXPECT_EQ(radio->text(), r.caption) << r.name;
        EXPECT_EQ(radio->isChecked(), r.checked) << r.name;
        EXPECT_EQ(sheetOf(tabs, radio), r.sheet) << r.name;
    }
    // The model choices exclude each other within their group only.
    child<QRadioButton>("radHKY85")->click();
    EXPECT_FALSE(child<QRadioButton>("radJC69")->isChecked());
    EXPECT_TRUE(child<QRadioButton>("radInfiniteAlleles")->isChecked());

    auto* output = child<QGroupBox>("rdgOutput");
    EXPECT_EQ(output->title(), "Output format");
    const auto items = output->findChildren<QRadioButton*>();
    ASSERT_EQ(items.size(), 4);
    const char* formats[] = {"Clustal", "Nexus", "Fasta", "MrBayes"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(items[i]->text(), formats[i]);
        EXPECT_EQ(items[i]->isChecked(), i == 1);
    }
    // Four columns: one row, left to right.
    window->show();
    output->layout()->activate();
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(items[i]->y(), items[0]->y());
        EXPECT_GT(items[i]->x(), items[i - 1]->x());
    }

    auto* run = child<QPushButton>("btnRunSimulation");
    EXPECT_EQ(run->text(), "Run Simulation");
    EXPECT_EQ(run->size(), QSize(225, 41));
    auto* stop = child<QPushButton>("btnStop");
    EXPECT_EQ(stop->text(), "Stop");
    EXPECT_EQ(stop->y(), run->y());
    EXPECT_EQ(stop->geometry().right(), run->x() + 305 - 1); // the two share the run row
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_TRUE(child<QLineEdit>("edtSeed")->text().isEmpty());
    EXPECT_EQ(child<QComboBox>("cmbRandom")->currentIndex(), 0);
    auto* bar = child<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar->size(), QSize(305, 18));
    EXPECT_EQ(bar->value(), bar->minimum());
    auto* simNum = child<QLineEdit>("memSimNum");
    EXPECT_EQ(simNum->size(), QSize(65, 17));
    EXPECT_TRUE(simNum->text().isEmpty());
    EXPECT_TRUE(simNum->font().bold());
    EXPECT_EQ(simNum->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);

    auto* logo = child<QLabel>("Image3");
    EXPECT_EQ(logo->size(), QSize(150, 169));
    EXPECT_FALSE(logo->pixmap().isNull());
    for (int i = 1; i <= 5; ++i) {
        auto* credit = child<QLabel>(("lblCredit" + std::to_string(i)).c_str());
        if (!credit) continue;
        EXPECT_FALSE(credit->text().isEmpty());
        EXPECT_EQ(credit->font().pixelSize(), 10);
        EXPECT_GT(credit->y(), logo->geometry().bottom());
    }
    EXPECT_EQ(child<QWidget>("DirectoryTreeView1")->size(), QSize(281, 233));
    auto* dir = child<QLineEdit>("memDir");
    EXPECT_EQ(dir->size(), QSize(281, 25));
    EXPECT_TRUE(dir->text().isEmpty());
    EXPECT_EQ(window->workDir(), ".");
    EXPECT_FALSE(window->runDone());
}

TEST_F(WindowTest, FormValuesTakeEveryControlByItsName) {
    // Untouched, the window gives the same record as the command line's defaults.
    const FormValues defaults;
    const FormValues untouched = window->formValues();

    struct TextField {
        const char* name;
        std::string FormValues::*field;
    };
    const TextField texts[] = {
        {"edtSampleSize", &FormValues::edtSampleSize},
        {"edtPopulationSize", &FormValues::edtPopulationSize},
        {"edtNumberSimulations", &FormValues::edtNumberSimulations},
        {"edtSeqLength", &FormValues::edtSeqLength},
        {"edtSeqFile", &FormValues::edtSeqFile},
        {"edtMutationRate", &FormValues::edtMutationRate},
        {"edtFreqA", &FormValues::edtFreqA},
        {"edtFreqC", &FormValues::edtFreqC},
        {"edtFreqG", &FormValues::edtFreqG},
        {"edtTiTv", &FormValues::edtTiTv},
        {"edtI", &FormValues::edtI},
        {"edtAlpha", &FormValues::edtAlpha},
        {"edtSeqOut", &FormValues::edtSeqOut},
        {"edtNumLoci", &FormValues::edtNumLoci},
        {"edtMsatIn", &FormValues::edtMsatIn},
        {"edtMSatData", &FormValues::edtMSatData},
        {"edtVarRepSuc", &FormValues::edtVarRepSuc},
        {"edtMeanOffsp", &FormValues::edtMeanOffsp},
        {"edtGrowthStart", &FormValues::edtGrowthStart},
        {"edtGrowthEnd", &FormValues::edtGrowthEnd},
        {"edtChangeN", &FormValues::edtChangeN},
        {"edtTmrca", &FormValues::edtTmrca},
        {"edtNewickTrees", &FormValues::edtNewickTrees},
        {"edtMutDistrib", &FormValues::edtMutDistrib},
        {"edtCoalDistrib", &FormValues::edtCoalDistrib},
        {"edtLogFile", &FormValues::edtLogFile},
    };
    struct FlagField {
        const char* name;
        bool FormValues::*field;
    };
    const FlagField flags[] = {
        {"chkMultipleSims", &FormValues::chkMultipleSims},
        {"chkDrawMut", &FormValues::chkDrawMut},
        {"chkSeqInput", &FormValues::chkSeqInput},
        {"chkDiploid", &FormValues::chkDiploid},
        {"chkSegSites", &FormValues::chkSegSites},
        {"chkScatterMut", &FormValues::chkScatterMut},
        {"chkInvarSites", &FormValues::chkInvarSites},
        {"chkShapeParameter", &FormValues::chkShapeParameter},
        {"chkSeqDiversity", &FormValues::chkSeqDiversity},
        {"chkSeqOut", &FormValues::chkSeqOut},
        {"chkMsats", &FormValues::chkMsats},
        {"chkMSatOut", &FormValues::chkMSatOut},
        {"chkMSatDiversity", &FormValues::chkMSatDiversity},
        {"chkVarRepSuc", &FormValues::chkVarRepSuc},
        {"chkFluctuatingN", &FormValues::chkFluctuatingN},
        {"chkArlequin", &FormValues::chkArlequin},
    };
    ASSERT_EQ(std::size(texts), std::size(kEdits));
    ASSERT_EQ(std::size(flags), std::size(kChecks));
    for (const auto& t : texts)
        EXPECT_EQ(untouched.*t.field, defaults.*t.field) << t.name;
    for (const auto& f : flags)
        EXPECT_EQ(untouched.*f.field, defaults.*f.field) << f.name;
    EXPECT_EQ(untouched.model, defaults.model);
    EXPECT_EQ(untouched.msatModel, defaults.msatModel);
    EXPECT_EQ(untouched.rdgOutput, defaults.rdgOutput);
    EXPECT_EQ(untouched.WorkDir, defaults.WorkDir);

    // Every control changed to a value of its own lands in the field of its name.
    for (const auto& t : texts)
        if (auto* edit = child<QLineEdit>(t.name)) edit->setText(QString("v-") + t.name);
    for (const auto& f : flags)
        if (auto* box = child<QCheckBox>(f.name)) box->setChecked(!box->isChecked());
    const FormValues changed = window->formValues();
    for (const auto& t : texts)
        EXPECT_EQ(changed.*t.field, std::string("v-") + t.name) << t.name;
    for (const auto& f : flags)
        EXPECT_EQ(changed.*f.field, !(defaults.*f.field)) << f.name;

    const std::pair<const char*, SubstitutionModel> models[] = {
        {"radK2P", SubstitutionModel::K2P},
        {"radF81", SubstitutionModel::F81},
        {"radHKY85", SubstitutionModel::HKY85},
        {"radJC69", SubstitutionModel::JC69}};
    for (const auto& [name, model] : models) {
        child<QRadioButton>(name)->click();
        EXPECT_EQ(window->formValues().model, model) << name;
    }
    const std::pair<const char*, MsatModel> alleles[] = {
        {"radStepwise", MsatModel::Stepwise},
        {"radAllele", MsatModel::RandomAlleles},
        {"radInfiniteAlleles", MsatModel::InfiniteAlleles}};
    for (const auto& [name, model] : alleles) {
        child<QRadioButton>(name)->click();
        EXPECT_EQ(window->formValues().msatModel, model) << name;
    }
    const auto items = child<QGroupBox>("rdgOutput")->findChildren<QRadioButton*>();
    for (int i = 0; i < items.size(); ++i) {
        items[i]->click();
        EXPECT_EQ(static_cast<int>(window->formValues().rdgOutput), i);
    }
}

TEST_F(WindowTest, DoubleClickedDirectoryBecomesTheWorkingDirectory) {
    QTemporaryDir first, second;
    const QString a = QDir(first.path()).canonicalPath();
    const QString b = QDir(second.path()).canonicalPath();
    assignDirectory(a);
    EXPECT_EQ(window->workDir(), a);
    EXPECT_EQ(child<QLineEdit>("memDir")->text(), a);
    EXPECT_EQ(window->formValues().WorkDir, a.toStdString());
    assignDirectory(b);
    EXPECT_EQ(window->workDir(), b);
    EXPECT_EQ(child<QLineEdit>("memDir")->text(), b);
}

TEST_F(WindowTest, LogoFromTheCurrentDirectoryOrBuiltIn) {
    const QString previous = QDir::currentPath();
    QTemporaryDir dir;
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    QDir(dir.path()).mkdir("img");
    const QString logoPath = dir.path() + "/img/vosk_logo.png";

    // A logo of its own in ./img is shown at its size.
    QImage own(12, 9, QImage::Format_RGB32);
    own.fill(Qt::red);
    ASSERT_TRUE(own.save(logoPath, "PNG"));
    makeWindow();
    EXPECT_EQ(child<QLabel>("Image3")->pixmap().size(), QSize(12, 9));

    // Missing: the built-in copy, no message.
    QFile::remove(logoPath);
    makeWindow();
    QCoreApplication::processEvents();
    const QSize builtIn = child<QLabel>("Image3")->pixmap().size();
    EXPECT_EQ(builtIn, QSize(150, 169));
    EXPECT_TRUE(messages.empty());

    // Unreadable: the error is reported, start-up completes with the built-in copy.
    QFile broken(logoPath);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    messages.clear();
    makeWindow();
    QCoreApplication::processEvents();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, TfrmTolvarin::MessageKind::Error);
    EXPECT_EQ(child<QLabel>("Image3")->pixmap().size(), builtIn);
    EXPECT_EQ(window->workDir(), ".");

    window.reset();
    QDir::setCurrent(previous);
}

TEST_F(WindowTest, EveryTableEntryWithAControlHasItOnItsSheet) {
    // Edit boxes and check boxes are found by their field's name on the table's sheet, with
    // the table's default; choices are radio groups and lists of their own.
    auto* tabs = child<QTabWidget>("PageControl1");
    int found = 0;
    for (const ParameterEntry& e : parameterTable()) {
        if (e.tab == ParameterTab::None || e.kind == ParameterKind::Choice ||
            std::string(e.field) == "WorkDir")
            continue;
        QWidget* w = window->findChild<QWidget*>(e.field);
        ASSERT_NE(w, nullptr) << e.field;
        EXPECT_EQ(sheetOf(tabs, w), static_cast<int>(e.tab)) << e.field;
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            EXPECT_EQ(edit->text().toStdString(), parameterDefault(e.field)) << e.field;
        else if (auto* box = qobject_cast<QCheckBox*>(w)) {
            EXPECT_EQ(box->isChecked(), parameterDefault(e.field) == "1") << e.field;
            EXPECT_EQ(box->text().toStdString(), e.caption) << e.field;
        } else
            ADD_FAILURE() << e.field << " is neither an edit box nor a check box";
        ++found;
    }
    EXPECT_EQ(found, 55); // every edit box and check box of the five sheets
    // The ms file's control reaches the record.
    window->findChild<QCheckBox*>("chkMs")->setChecked(true);
    window->findChild<QLineEdit*>("edtMs")->setText("run.ms");
    const FormValues f = window->formValues();
    EXPECT_TRUE(f.chkMs);
    EXPECT_EQ(f.edtMs, "run.ms");
}

TEST_F(WindowTest, EveryFileOfTheRunHasItsControlsInTheWindow) {
    // The check box and the name of each file of the run's file table reach the record.
    auto* tabs = child<QTabWidget>("PageControl1");
    int found = 0;
    for (const OutputFile& e : outputFileTable()) {
        if (*e.checkField) {
            auto* box = window->findChild<QCheckBox*>(e.checkField);
            ASSERT_NE(box, nullptr) << e.role << ": " << e.checkField;
            EXPECT_EQ(sheetOf(tabs, box), static_cast<int>(findParameter(e.checkField)->tab));
            ++found;
        }
        if (*e.nameField) {
            auto* edit = window->findChild<QLineEdit*>(e.nameField);
            ASSERT_NE(edit, nullptr) << e.role << ": " << e.nameField;
            edit->setText("named.txt");
            EXPECT_EQ(findParameter(e.nameField)->get(window->formValues()), "named.txt")
                << e.nameField;
            ++found;
        }
    }
    EXPECT_EQ(found, 25);
}
