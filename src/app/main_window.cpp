#include "app/main_window.h"

#include "app/button_glyphs.h"
#include "app/genealogy_image.h"
#include "app/model_view.h"
#include "app/picture_files.h"
#include "base/random.h"
#include "base/run_error.h"
#include "run/parameter_table.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>

namespace quenlith {

namespace {

constexpr int kControlPixels = 11;
constexpr int kRowHeight = 17;
constexpr int kEditHeight = 21;
constexpr int kEditColumn = 168;

QFont helvetica(int pixels, bool bold = false) {
    QFont font;
    font.setFamilies(
        {"adobe-helvetica", "Helvetica", "Nimbus Sans", "Liberation Sans", "DejaVu Sans"});
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

template <typename W> W* place(W* w, const char* name, int x, int y, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(x, y, width, height);
    w->setFont(helvetica(kControlPixels));
    return w;
}

QLabel* addLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                 int width = 158) {
    return place(new QLabel(text, parent), name, x, y, width, kRowHeight);
}

QLabel* addHeading(QWidget* parent, const char* name, const QString& text, int x, int y,
                   int pixels = kControlPixels) {
    QLabel* label = place(new QLabel(text, parent), name, x, y, 300, pixels + 6);
    label->setFont(helvetica(pixels, true));
    return label;
}

QLineEdit* addEdit(QWidget* parent, const char* name, const QString& text, int x, int y,
                   int width = 73) {
    return place(new QLineEdit(text, parent), name, x, y, width, kEditHeight);
}

QCheckBox* addCheck(QWidget* parent, const char* name, const QString& text, int x, int y,
                    bool checked, int width = 305) {
    QCheckBox* box = place(new QCheckBox(text, parent), name, x, y, width, kRowHeight + 2);
    box->setChecked(checked);
    return box;
}

QRadioButton* addRadio(QWidget* parent, QButtonGroup* group, const char* name, const QString& text,
                       int x, int y, bool checked, int width = 150) {
    QRadioButton* radio = place(new QRadioButton(text, parent), name, x, y, width, kRowHeight + 2);
    radio->setChecked(checked);
    group->addButton(radio);
    return radio;
}

QPushButton* addBitmapButton(QWidget* parent, const char* name, const QPixmap& glyph, int x,
                             int y) {
    QPushButton* button = place(new QPushButton(parent), name, x, y, 49, 49);
    button->setFixedSize(49, 49);
    button->setIcon(QIcon(glyph));
    button->setIconSize(glyph.size());
    return button;
}

std::string text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

// A control's default and caption, from the parameter table.
QString defaultText(const char* field) {
    return QString::fromStdString(parameterDefault(field));
}
bool defaultChecked(const char* field) {
    return parameterDefault(field) == "1";
}
QString caption(const char* field) {
    const ParameterEntry* e = findParameter(field);
    return QString::fromUtf8(e ? e->caption : "");
}

} // namespace

// Progress of the run, written by the run's thread and read by the window's timer.
class TfrmTolvarin::Observer : public RunObserver {
  public:
    void simulationStarted(int32_t s) override { simulation_.store(s); }
    void progress(int64_t position, int64_t maximum) override {
        maximum_.store(maximum);
        position_.store(position);
    }
    bool stopRequested() override { return stop_.load(); }
    const std::atomic<bool>* stopFlag() override { return &stop_; }

    void requestStop() { stop_.store(true); }
    int32_t simulation() const { return simulation_.load(); }
    int64_t position() const { return position_.load(); }
    int64_t maximum() const { return maximum_.load(); }

  private:
    std::atomic<int32_t> simulation_{0};
    std::atomic<int64_t> position_{0};
    std::atomic<int64_t> maximum_{0};
    std::atomic<bool> stop_{false};
};

std::optional<uint64_t> parseSeed(const QString& text, RandomKind kind) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 20) return std::nullopt;
    for (QChar c : t)
        if (c < '0' || c > '9') return std::nullopt;
    bool ok = false;
    const qulonglong value = t.toULongLong(&ok);
    if (!ok) return std::nullopt; // above 2^64 - 1
    if (kind == RandomKind::Lcg && value > 4294967295ull) return std::nullopt;
    return static_cast<uint64_t>(value);
}

struct TfrmTolvarin::RunResult {
    std::optional<RunOutcome> outcome;
    Drawing drawing; // the last genealogy, drawn on the run's thread
    bool drawn = false;
    bool failed = false;
    QString errorText;
    QString errorDetail;
};

TfrmTolvarin::TfrmTolvarin(QWidget* parent) : QWidget(parent) {
    setObjectName("frmTolvarin");
    setWindowTitle("Quenlith 0.3b");
    resize(1028, 633);
    setFont(helvetica(17));

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setGeometry(0, 0, 337, 633);
    PageControl1->setFont(helvetica(kControlPixels));
    // The five captions fit the sheet's width side by side.
    PageControl1->tabBar()->setStyleSheet("QTabBar::tab { padding: 4px 7px; }");
    PageControl1->setUsesScrollButtons(false);
    const struct {
        const char* name;
        const char* caption;
        void (TfrmTolvarin::*build)(QWidget*);
    } sheets[] = {
        {"tabMain", "Main", &TfrmTolvarin::buildMainTab},
        {"tabSequence", "Sequence", &TfrmTolvarin::buildSequenceTab},
        {"tabMicrosatellite", "Microsatellite", &TfrmTolvarin::buildMicrosatelliteTab},
        {"tabDemographics", "Demographics", &TfrmTolvarin::buildDemographicsTab},
        {"tabFiles", "Files", &TfrmTolvarin::buildFilesTab},
    };
    for (const auto& sheet : sheets) {
        auto* page = new QWidget;
        page->setObjectName(sheet.name);
        (this->*sheet.build)(page);
        PageControl1->addTab(page, sheet.caption);
    }
    PageControl1->setCurrentIndex(0);
    buildImageArea();
    buildLayout();

    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(50);
    connect(progressTimer_, &QTimer::timeout, this, &TfrmTolvarin::showProgress);

    CreateForm();
}

TfrmTolvarin::~TfrmTolvarin() {
    if (worker_.joinable()) {
        observer_->requestStop();
        worker_.join();
    }
}

void TfrmTolvarin::buildMainTab(QWidget* tab) {
    addHeading(tab, "Label6", "Coalescent parameters", 8, 16);
    addLabel(tab, "lblSampleSize", "Sample Size (k)", 8, 48);
    edtSampleSize = addEdit(tab, "edtSampleSize", defaultText("edtSampleSize"), kEditColumn, 44);
    addLabel(tab, "lblPopulationSize", "Population Size (N)", 8, 80);
    edtPopulationSize =
        addEdit(tab, "edtPopulationSize", defaultText("edtPopulationSize"), kEditColumn, 76);
    chkMultipleSims = addCheck(tab, "chkMultipleSims", caption("chkMultipleSims"), 8, 110,
                               defaultChecked("chkMultipleSims"), 150);
    edtNumberSimulations =
        addEdit(tab, "edtNumberSimulations", defaultText("edtNumberSimulations"), kEditColumn, 108);

    // Repeating a run: its seed goes into the seed box.
    addLabel(tab, "lblSeed", "Random seed", 8, 144);
    edtSeed = addEdit(tab, "edtSeed", QString(), kEditColumn, 140, 145);
    edtSeed->setPlaceholderText("clock");
    edtSeed->setToolTip("Empty: seeded from the clock. The seed of a run is shown below it and "
                        "in the run log; typed here, it repeats the run exactly.");
    addLabel(tab, "lblRandom", "Random numbers", 8, 170);
    cmbRandom = place(new QComboBox(tab), "cmbRandom", kEditColumn, 166, 145, kEditHeight);
    cmbRandom->addItem("32-bit generator");
    cmbRandom->addItem("Streams (64-bit seed)");
    cmbRandom->setToolTip("32-bit generator: the exact default, seeds 0 to 4294967295.\n"
                          "Streams: an independent counter-based stream per simulation, seeds "
                          "0 to 18446744073709551615.");
    addLabel(tab, "lblLastSeed", "Seed of the last run", 8, 196);
    memLastSeed = addEdit(tab, "memLastSeed", QString(), kEditColumn, 192, 145);
    memLastSeed->setReadOnly(true);

    btnRunSimulation =
        place(new QPushButton("Run Simulation", tab), "btnRunSimulation", 8, 222, 225, 41);
    connect(btnRunSimulation, &QPushButton::clicked, this, &TfrmTolvarin::RunSimulation);
    btnStop = place(new QPushButton("Stop", tab), "btnStop", 241, 222, 72, 41);
    btnStop->setEnabled(false);
    btnStop->setToolTip("Stop the run after the current simulation");
    connect(btnStop, &QPushButton::clicked, this, &TfrmTolvarin::StopSimulation);

    ProgressBar1 = place(new QProgressBar(tab), "ProgressBar1", 8, 272, 305, 18);
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    // Filled in blue.
    ProgressBar1->setStyleSheet("QProgressBar { border: 1px solid #8a8a8a; background: white; }"
                                "QProgressBar::chunk { background-color: #0000FF; }");

    chkDrawMut = addCheck(tab, "chkDrawMut", caption("chkDrawMut"), 8, 300,
                          defaultChecked("chkDrawMut"), 220);
    memSimNum = place(new QLineEdit(tab), "memSimNum", 248, 301, 65, 17);
    memSimNum->setReadOnly(true);
    memSimNum->setAlignment(Qt::AlignCenter);
    memSimNum->setFont(helvetica(kControlPixels, true));
    memSimNum->setTextMargins(0, 0, 0, 0);
    lblRunStatus = addLabel(tab, "lblRunStatus", QString(), 8, 324, 305);

    Image3 = place(new QLabel(tab), "Image3", 8, 348, 150, 169);
    Image3->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // The merge rule, beside the logo.
    addLabel(tab, "lblMergers", "Merges per generation", kEditColumn, 352, 145);
    cmbMergers = place(new QComboBox(tab), "cmbMergers", kEditColumn, 372, 145, kEditHeight);
    cmbMergers->addItem("One pair");
    cmbMergers->addItem("All sets");
    cmbMergers->setToolTip("One pair: the two lineages on the smallest parent drawn twice merge, "
                           "the exact default.\nAll sets: every set of lineages that drew one "
                           "parent merges into one (Wright-Fisher).");

    const char* credits[] = {
        "Quenlith 0.3b",
        "Coalescent genealogy simulator:",
        "genealogies simulated backwards in time,",
        "DNA sequence and microsatellite data sets",
        "for population genetic analysis.",
    };
    for (int i = 0; i < 5; ++i) {
        const QByteArray name = "lblCredit" + QByteArray::number(i + 1);
        QLabel* line =
            place(new QLabel(credits[i], tab), name.constData(), 8, 522 + 14 * i, 305, 14);
        line->setFont(helvetica(10, i == 0));
    }
}

void TfrmTolvarin::buildSequenceTab(QWidget* tab) {
    addHeading(tab, "lblDNASeqParam", "DNA sequence parameters", 8, 16);
    addLabel(tab, "lblSequenceLength", "Sequence Length", 8, 42);
    edtSeqLength = addEdit(tab, "edtSeqLength", defaultText("edtSeqLength"), kEditColumn, 38);
    chkSeqInput = addCheck(tab, "chkSeqInput", caption("chkSeqInput"), 8, 66,
                           defaultChecked("chkSeqInput"), 150);
    edtSeqFile = addEdit(tab, "edtSeqFile", defaultText("edtSeqFile"), kEditColumn, 64, 130);
    addLabel(tab, "lblMutationRate", "MutationRate (u)", 8, 94);
    edtMutationRate =
        addEdit(tab, "edtMutationRate", defaultText("edtMutationRate"), kEditColumn, 90, 90);
    addLabel(tab, "lblMutationRateExpl", "mutations/site/generation", 24, 112, 200);
    chkDiploid =
        addCheck(tab, "chkDiploid", caption("chkDiploid"), 8, 134, defaultChecked("chkDiploid"));
    chkSegSites =
        addCheck(tab, "chkSegSites", caption("chkSegSites"), 8, 156, defaultChecked("chkSegSites"));
    chkScatterMut = addCheck(tab, "chkScatterMut", caption("chkScatterMut"), 8, 178,
                             defaultChecked("chkScatterMut"));

    addHeading(tab, "lblDNAParams", "DNA mutation model", 8, 204);
    auto* models = new QButtonGroup(tab);
    models->setObjectName("grpSubstitutionModel");
    radJC69 = addRadio(tab, models, "radJC69", "JC69", 24, 226, true, 110);
    radK2P = addRadio(tab, models, "radK2P", "Kimura 2-parameter", 140, 226, false);
    radF81 = addRadio(tab, models, "radF81", "F81", 24, 246, false, 110);
    radHKY85 = addRadio(tab, models, "radHKY85", "HKY85", 140, 246, false);

    addLabel(tab, "lblBaseFrequencies", "Base Frequencies", 8, 272);
    addLabel(tab, "lblFreqA", "A:", 24, 294, 40);
    edtFreqA = addEdit(tab, "edtFreqA", defaultText("edtFreqA"), kEditColumn, 290);
    addLabel(tab, "lblFreqC", "C:", 24, 318, 40);
    edtFreqC = addEdit(tab, "edtFreqC", defaultText("edtFreqC"), kEditColumn, 314);
    addLabel(tab, "lblFreqG", "G:", 24, 342, 40);
    edtFreqG = addEdit(tab, "edtFreqG", defaultText("edtFreqG"), kEditColumn, 338);
    addLabel(tab, "lblTiTvRatio", "Ti:Tv ratio", 8, 368);
    edtTiTv = addEdit(tab, "edtTiTv", defaultText("edtTiTv"), kEditColumn, 364);
    // Long captions: these two boxes stand at the right end of the column.
    chkInvarSites = addCheck(tab, "chkInvarSites", caption("chkInvarSites"), 8, 392,
                             defaultChecked("chkInvarSites"), 214);
    edtI = addEdit(tab, "edtI", defaultText("edtI"), 224, 390);
    chkShapeParameter = addCheck(tab, "chkShapeParameter", caption("chkShapeParameter"), 8, 416,
                                 defaultChecked("chkShapeParameter"), 214);
    edtAlpha = addEdit(tab, "edtAlpha", defaultText("edtAlpha"), 224, 414);

    addHeading(tab, "Label8", "Output", 8, 442);
    chkSeqDiversity = addCheck(tab, "chkSeqDiversity", caption("chkSeqDiversity"), 8, 464,
                               defaultChecked("chkSeqDiversity"));
    chkSeqOut =
        addCheck(tab, "chkSeqOut", caption("chkSeqOut"), 8, 486, defaultChecked("chkSeqOut"));
    addLabel(tab, "lblSeqDataOut", "Sequence data output:", 8, 512);
    edtSeqOut = addEdit(tab, "edtSeqOut", defaultText("edtSeqOut"), kEditColumn, 508, 130);

    rdgOutput = place(new QGroupBox("Output format", tab), "rdgOutput", 8, 536, 313, 44);
    rdgOutputItems = new QButtonGroup(rdgOutput);
    auto* columns = new QHBoxLayout(rdgOutput);
    columns->setContentsMargins(6, 2, 6, 2);
    const char* items[] = {"Clustal", "Nexus", "Fasta", "MrBayes"};
    for (int i = 0; i < 4; ++i) {
        auto* item = new QRadioButton(items[i], rdgOutput);
        item->setObjectName(QString("rdgOutputItem%1").arg(i));
        item->setFont(helvetica(kControlPixels));
        rdgOutputItems->addButton(item, i);
        columns->addWidget(item);
    }
    rdgOutputItems->button(static_cast<int>(OutputFormat::Nexus))->setChecked(true);
}

void TfrmTolvarin::buildMicrosatelliteTab(QWidget* tab) {
    addHeading(tab, "lblMsatParam", "Microsatellite parameters", 8, 16);
    chkMsats = addCheck(tab, "chkMsats", caption("chkMsats"), 8, 42, defaultChecked("chkMsats"));
    addLabel(tab, "lblNoLoci", "Number of loci", 8, 72);
    edtNumLoci = addEdit(tab, "edtNumLoci", defaultText("edtNumLoci"), kEditColumn, 68);
    auto* models = new QButtonGroup(tab);
    models->setObjectName("grpAlleleModel");
    radInfiniteAlleles =
        addRadio(tab, models, "radInfiniteAlleles", "Infinite alleles model", 24, 98, true, 250);
    radStepwise =
        addRadio(tab, models, "radStepwise", "Stepwise Mutation model", 24, 120, false, 250);
    radAllele = addRadio(tab, models, "radAllele", "Random Alleles model", 24, 142, false, 250);
    addLabel(tab, "Label1", "Microsatellite Parameters file:", 8, 174);
    edtMsatIn = addEdit(tab, "edtMsatIn", defaultText("edtMsatIn"), kEditColumn, 170, 130);
    addHeading(tab, "Label9", "Output", 8, 204, 13);
    chkMSatOut =
        addCheck(tab, "chkMSatOut", caption("chkMSatOut"), 8, 230, defaultChecked("chkMSatOut"));
    chkMSatDiversity = addCheck(tab, "chkMSatDiversity", caption("chkMSatDiversity"), 8, 254,
                                defaultChecked("chkMSatDiversity"));
    addLabel(tab, "lblMsatOut", "Microsatellite data output:", 8, 284);
    edtMSatData = addEdit(tab, "edtMSatData", defaultText("edtMSatData"), kEditColumn, 280, 130);
}

void TfrmTolvarin::buildDemographicsTab(QWidget* tab) {
    // The labels of this sheet are long: its edit boxes stand further right.
    constexpr int column = 240;
    addHeading(tab, "lblFactorsN", "Factors influencing N", 8, 16);
    chkVarRepSuc = addCheck(tab, "chkVarRepSuc", caption("chkVarRepSuc"), 8, 44,
                            defaultChecked("chkVarRepSuc"), column - 12);
    edtVarRepSuc = addEdit(tab, "edtVarRepSuc", defaultText("edtVarRepSuc"), column, 42);
    addLabel(tab, "Label10", "mean number of offspring:", 32, 76, column - 36);
    edtMeanOffsp = addEdit(tab, "edtMeanOffsp", defaultText("edtMeanOffsp"), column, 72);
    chkFluctuatingN = addCheck(tab, "chkFluctuatingN", caption("chkFluctuatingN"), 8, 108,
                               defaultChecked("chkFluctuatingN"));
    addLabel(tab, "lblGrowthStart", "Start of Population growth:", 32, 140, column - 36);
    edtGrowthStart = addEdit(tab, "edtGrowthStart", defaultText("edtGrowthStart"), column, 136);
    addLabel(tab, "lblGrowthEnd", "End of Population growth:", 32, 172, column - 36);
    edtGrowthEnd = addEdit(tab, "edtGrowthEnd", defaultText("edtGrowthEnd"), column, 168);
    addLabel(tab, "lblFlucN", "% Population size change per gen:", 32, 204, column - 36);
    edtChangeN = addEdit(tab, "edtChangeN", defaultText("edtChangeN"), column, 200);

    // A demographic model replaces the factors above: demes, sizes, migrations, pulses.
    addHeading(tab, "lblModel", "Demographic model", 8, 244);
    chkDemes = addCheck(tab, "chkDemes", caption("chkDemes"), 8, 272, defaultChecked("chkDemes"),
                        column - 12);
    chkDemes->setToolTip("A Demes file (YAML); runs with independent streams");
    // A model runs with independent streams: ticking it chooses them.
    connect(chkDemes, &QCheckBox::toggled, this, [this](bool on) {
        if (on && cmbRandom) cmbRandom->setCurrentIndex(1);
    });
    btnModelPicture =
        place(new QPushButton("Picture...", tab), "btnModelPicture", column, 270, 73, kEditHeight);
    btnModelPicture->setToolTip(
        "The model's demes, migrations and pulses in a window of their own");
    edtDemes = addEdit(tab, "edtDemes", defaultText("edtDemes"), 32, 300, column + 73 - 32 - 29);
    edtDemes->setToolTip("The model file: a name in the working directory or an absolute path");
    btnDemesBrowse = place(new QPushButton("...", tab), "btnDemesBrowse", column + 73 - 25, 300, 25,
                           kEditHeight);
    btnDemesBrowse->setToolTip("Choose the model file");
    // What the model file holds, or why it cannot run, as soon as it is named.
    lblModelMessage = place(new QLabel(tab), "lblModelMessage", 32, 324, column + 73 - 32, 30);
    addLabel(tab, "lblSamples", "Samples (deme:copies, ...):", 32, 358, column - 36);
    edtSamples = addEdit(tab, "edtSamples", defaultText("edtSamples"), 32, 378, column + 73 - 32);
    addLabel(tab, "lblPloidy", "Copies per individual:", 32, 410, column - 36);
    edtPloidy = addEdit(tab, "edtPloidy", defaultText("edtPloidy"), column, 406);
    tblDemes = place(new QTableWidget(tab), "tblDemes", 8, 434, column + 73 - 8, 150);

    modelPanel_ = new ModelPanel(
        chkDemes, edtDemes, edtSamples, edtPloidy, lblModelMessage, tblDemes,
        [this] { return WorkDir; }, this);
    connect(btnDemesBrowse, &QPushButton::clicked, modelPanel_, &ModelPanel::browse);
    connect(btnModelPicture, &QPushButton::clicked, modelPanel_, &ModelPanel::showPicture);
    connect(modelPanel_->pictureWindow(), &ModelWindow::saveFailed, this,
            [this](const QString& text, const QString& detail) { showRunError(text, detail); });
}

void TfrmTolvarin::buildFilesTab(QWidget* tab) {
    addHeading(tab, "lblGeneral", "General outputs", 8, 16);
    addLabel(tab, "lblOutDir", "Working Directory:", 8, 42);

    directoryModel_ = new QFileSystemModel(this);
    directoryModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    directoryModel_->setRootPath(QDir::rootPath());
    DirectoryTreeView1 = place(new QTreeView(tab), "DirectoryTreeView1", 8, 62, 281, 233);
    DirectoryTreeView1->setModel(directoryModel_);
    DirectoryTreeView1->setHeaderHidden(true);
    for (int column = 1; column < directoryModel_->columnCount(); ++column)
        DirectoryTreeView1->hideColumn(column);
    const QModelIndex start = directoryModel_->index(QDir::currentPath());
    DirectoryTreeView1->setCurrentIndex(start);
    DirectoryTreeView1->scrollTo(start);
    connect(DirectoryTreeView1, &QTreeView::doubleClicked, this, &TfrmTolvarin::AssignDirectory);

    memDir = place(new QLineEdit(tab), "memDir", 8, 298, 281, 25);
    memDir->setReadOnly(true);

    addLabel(tab, "lblTMRCA", "Output File:", 8, 340);
    edtTmrca = addEdit(tab, "edtTmrca", defaultText("edtTmrca"), kEditColumn, 336, 130);
    addLabel(tab, "lblNexusTrees", "Newick tree file:", 8, 368);
    edtNewickTrees =
        addEdit(tab, "edtNewickTrees", defaultText("edtNewickTrees"), kEditColumn, 364, 130);
    addLabel(tab, "lblMutDistrib", "Mutation distribution:", 8, 396);
    edtMutDistrib =
        addEdit(tab, "edtMutDistrib", defaultText("edtMutDistrib"), kEditColumn, 392, 130);
    addLabel(tab, "lblCoalDistrib", "Coalescent distribution:", 8, 424);
    edtCoalDistrib =
        addEdit(tab, "edtCoalDistrib", defaultText("edtCoalDistrib"), kEditColumn, 420, 130);
    addLabel(tab, "lblLogFile", "Log File:", 8, 452);
    edtLogFile = addEdit(tab, "edtLogFile", defaultText("edtLogFile"), kEditColumn, 448, 130);
    chkArlequin =
        addCheck(tab, "chkArlequin", caption("chkArlequin"), 8, 482, defaultChecked("chkArlequin"));
    chkStats =
        addCheck(tab, "chkStats", caption("chkStats"), 8, 506, defaultChecked("chkStats"), 150);
    edtStats = addEdit(tab, "edtStats", defaultText("edtStats"), kEditColumn, 504, 130);
    chkStats->setToolTip("Per-simulation summary statistics (Tajima's D and others)");
    chkVcf = addCheck(tab, "chkVcf", caption("chkVcf"), 8, 530, defaultChecked("chkVcf"), 150);
    edtVcf = addEdit(tab, "edtVcf", defaultText("edtVcf"), kEditColumn, 528, 130);
    chkVcf->setToolTip("The segregating sites of every simulation as VCF");
    chkMs = addCheck(tab, "chkMs", caption("chkMs"), 8, 554, defaultChecked("chkMs"), 150);
    edtMs = addEdit(tab, "edtMs", defaultText("edtMs"), kEditColumn, 552, 130);
    chkMs->setToolTip("The segregating sites of every simulation in ms format");
    chkEachSim = addCheck(tab, "chkEachSim", caption("chkEachSim"), 8, 578,
                          defaultChecked("chkEachSim"), 150);
    edtEachSim = addEdit(tab, "edtEachSim", defaultText("edtEachSim"), kEditColumn, 576, 70);
    edtEachSimFormat = addEdit(tab, "edtEachSimFormat", defaultText("edtEachSimFormat"),
                               kEditColumn + 72, 576, 88);
    chkEachSim->setToolTip("Per simulation an alignment (formats: fasta, phylip, nexus), its "
                           "genealogy and, for microsatellites, a GenePop file, in this folder");
}

void TfrmTolvarin::buildImageArea() {
    PageControl2 = new QTabWidget(this);
    PageControl2->setObjectName("PageControl2");
    PageControl2->setFont(helvetica(kControlPixels));
    auto* sheet = new QWidget;
    sheet->setObjectName("tabGenealogy");
    Image1 = new GenealogyView(sheet);
    Image1->setObjectName("Image1");
    lblRunLine = new QLabel(sheet);
    lblRunLine->setObjectName("lblRunLine");
    lblRunLine->setFont(helvetica(kControlPixels));
    lblRunLine->setTextInteractionFlags(Qt::TextSelectableByMouse);

    spnSimulation = new QSpinBox(sheet);
    spnSimulation->setObjectName("spnSimulation");
    spnLocus = new QSpinBox(sheet);
    spnLocus->setObjectName("spnLocus");
    for (QSpinBox* box : {spnSimulation, spnLocus}) {
        box->setRange(1, 1);
        box->setFont(helvetica(kControlPixels));
        box->setMinimumWidth(64);
    }
    btnShowGenealogy = new QPushButton("Show", sheet);
    btnShowGenealogy->setObjectName("btnShowGenealogy");
    btnShowGenealogy->setToolTip("Show the genealogy of this simulation (and locus)");
    connect(btnShowGenealogy, &QPushButton::clicked, this, &TfrmTolvarin::ShowGenealogy);
    connect(spnSimulation, &QSpinBox::editingFinished, this, [this] {
        if (spnSimulation->hasFocus()) ShowGenealogy();
    });

    BitBtn3 = addBitmapButton(sheet, "BitBtn3", diskGlyph(), 0, 0);
    BitBtn2 = addBitmapButton(sheet, "BitBtn2", arrowGlyph(false), 0, 0);
    BitBtn1 = addBitmapButton(sheet, "BitBtn1", arrowGlyph(true), 0, 0);
    BitBtn3->setToolTip("Save the genealogy image (BMP, PNG, SVG or PDF)");
    BitBtn2->setToolTip("Previous genealogy");
    BitBtn1->setToolTip("Next genealogy");
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmTolvarin::TreeFwd);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmTolvarin::TreeBack);
    connect(BitBtn3, &QPushButton::clicked, this, &TfrmTolvarin::SaveGenealogy);

    auto* column = new QVBoxLayout(sheet);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(Image1, 1);
    column->addWidget(lblRunLine);
    auto* row = new QHBoxLayout;
    auto* lblSimulation = new QLabel("Simulation", sheet);
    lblSimulation->setObjectName("lblJumpSimulation");
    auto* lblLocus = new QLabel("Locus", sheet);
    lblLocus->setObjectName("lblJumpLocus");
    for (QLabel* l : {lblSimulation, lblLocus})
        l->setFont(helvetica(kControlPixels));
    row->addWidget(lblSimulation);
    row->addWidget(spnSimulation);
    row->addWidget(lblLocus);
    row->addWidget(spnLocus);
    row->addWidget(btnShowGenealogy);
    row->addStretch(1);
    row->addWidget(BitBtn3);
    row->addWidget(BitBtn2);
    row->addWidget(BitBtn1);
    column->addLayout(row);
    PageControl2->addTab(sheet, "Genealogy");

    results_ = new ResultsView;
    results_->setObjectName("tabResults");
    connect(results_, &ResultsView::saveFailed, this,
            [this](const QString& text, const QString& detail) { showRunError(text, detail); });
    PageControl2->addTab(results_, "Results");

    dlgSaveFile = new QFileDialog(this, "Save");
    dlgSaveFile->setObjectName("dlgSaveFile");
    dlgSaveFile->setAcceptMode(QFileDialog::AcceptSave);
    dlgSaveFile->setNameFilters(pictureFilters());
    dlgSaveFile->selectNameFilter("Bitmap (*.bmp)");
    dlgSaveFile->setDefaultSuffix(QString());
    // PNG, SVG and PDF add their extension to a bare name; Bitmap and Jpeg keep it as typed.
    connect(dlgSaveFile, &QFileDialog::filterSelected, this, [this](const QString& filter) {
        dlgSaveFile->setDefaultSuffix(pictureSuffixFor(filter));
    });
    updateBrowseControls();
}

// The tab sheets keep their width; the image side takes the rest. The window cannot become
// smaller than the tallest sheet's controls and a half-size image.
void TfrmTolvarin::buildLayout() {
    int bottom = 0;
    for (int i = 0; i < PageControl1->count(); ++i)
        bottom = std::max(bottom, PageControl1->widget(i)->childrenRect().bottom());
    PageControl1->setFixedWidth(337);
    PageControl1->setMinimumHeight(bottom + PageControl1->tabBar()->sizeHint().height() + 12);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 8, 0);
    layout->setSpacing(16);
    layout->addWidget(PageControl1);
    layout->addWidget(PageControl2, 1);
    setMinimumSize(layout->minimumSize());
}

void TfrmTolvarin::CreateForm() {
    // The logo: ./img/vosk_logo.png when present, else the copy built into the program.
    const QString logoPath = "./img/vosk_logo.png";
    QImage logo;
    bool logoFailed = false;
    if (QFileInfo::exists(logoPath) && !logo.load(logoPath)) logoFailed = true;
    if (logo.isNull()) logo.load(":/img/vosk_logo.png");
    Image3->setPixmap(QPixmap::fromImage(logo));
    WorkDir = ".";
    if (logoFailed) {
        // Reported once the window is up; start-up itself completes.
        QTimer::singleShot(0, this, [this, logoPath] {
            message(MessageKind::Error, "The logo could not be loaded",
                    QFileInfo(logoPath).absoluteFilePath());
        });
    }
}

FormValues TfrmTolvarin::formValues() const {
    FormValues f;
    // Edit boxes and check boxes are named after their fields.
    for (const ParameterEntry& e : parameterTable()) {
        if (e.tab == ParameterTab::None) continue;
        if (const auto* edit = findChild<QLineEdit*>(e.field))
            e.set(f, text(edit));
        else if (const auto* box = findChild<QCheckBox*>(e.field))
            e.set(f, box->isChecked() ? "1" : "0");
    }

    f.model = radK2P->isChecked()     ? SubstitutionModel::K2P
              : radF81->isChecked()   ? SubstitutionModel::F81
              : radHKY85->isChecked() ? SubstitutionModel::HKY85
                                      : SubstitutionModel::JC69;
    const int format = rdgOutputItems->checkedId();
    f.rdgOutput = format >= 0 ? static_cast<OutputFormat>(format) : OutputFormat::Nexus;

    f.msatModel = radStepwise->isChecked() ? MsatModel::Stepwise
                  : radAllele->isChecked() ? MsatModel::RandomAlleles
                                           : MsatModel::InfiniteAlleles;
    f.WorkDir = WorkDir.toStdString();
    f.rngKind = cmbRandom->currentIndex() == 1 ? RandomKind::Streams : RandomKind::Lcg;
    f.mergers = cmbMergers->currentIndex() == 1 ? MergeRule::All : MergeRule::One;
    return f;
}

void TfrmTolvarin::AssignDirectory() {
    const QModelIndex selected = DirectoryTreeView1->currentIndex();
    if (!selected.isValid()) return;
    memDir->clear();
    WorkDir = directoryModel_->filePath(selected);
    memDir->setText(WorkDir);
    if (modelPanel_) modelPanel_->reload(); // a model named relative to the directory
}

void TfrmTolvarin::RunSimulation() {
    if (isRunning()) return;
    const FormValues form = formValues();
    uint64_t seed = 0;
    if (fixedSeed_) {
        seed = *fixedSeed_;
    } else if (!edtSeed->text().trimmed().isEmpty()) {
        const std::optional<uint64_t> typed = parseSeed(edtSeed->text(), form.rngKind);
        if (!typed) {
            message(MessageKind::Warning,
                    form.rngKind == RandomKind::Lcg
                        ? "The seed must be a whole number from 0 to 4294967295"
                        : "The seed must be a whole number from 0 to 18446744073709551615");
            return;
        }
        seed = *typed;
    } else {
        seed = clockSeed();
        if (form.rngKind == RandomKind::Streams) {
            // Streams take 64 bits: the high word from the clock's nanoseconds.
            const auto ns = std::chrono::steady_clock::now().time_since_epoch().count();
            seed |= static_cast<uint64_t>(static_cast<uint32_t>(ns ^ (ns >> 32))) << 32;
        }
    }
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    // The old run's drawing goes as the run starts (a refused run puts it back: it rewrites
    // none of the files the drawing came from).
    previousDrawing_ =
        Image1->hasDrawing() ? std::optional<Drawing>(Image1->drawing()) : std::nullopt;
    previousRunLine_ = lblRunLine->text();
    clearPicture();
    lastSeed_ = seed;
    simsDone_ = 0;
    memLastSeed->setText(QString::number(seed));
    lblRunStatus->setText(QString("Running (seed %1)").arg(seed));

    observer_ = std::make_unique<Observer>();
    Observer* observer = observer_.get();
    auto result = std::make_shared<RunResult>();
    setRunning(true);
    worker_ = std::thread([this, form, seed, observer, result] {
        try {
            result->outcome = quenlith::RunSimulation(form, seed, *observer);
            // Drawn here so that a large genealogy does not hold up the window; the mutation
            // switch cannot change while the run goes on.
            if (result->outcome->status == RunStatus::Completed &&
                hasGenealogyToDraw(*result->outcome)) {
                drawGenealogy(lastGenealogyInDemes(*result->outcome, form.chkDrawMut),
                              result->drawing);
                result->drawn = true;
            }
        } catch (const RunError& e) {
            result->failed = true;
            result->errorText = QString::fromStdString(e.text());
            result->errorDetail = QString::fromStdString(e.detail());
        } catch (const std::exception& e) {
            result->failed = true;
            result->errorText = QString::fromLocal8Bit(e.what());
        }
        QMetaObject::invokeMethod(
            this, [this, result] { finishRun(result); }, Qt::QueuedConnection);
    });
}

void TfrmTolvarin::StopSimulation() {
    if (!isRunning()) return;
    observer_->requestStop();
    btnStop->setEnabled(false);
    lblRunStatus->setText("Stopping after the current simulation");
}

void TfrmTolvarin::setRunning(bool running) {
    const auto widgets = findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (w == memSimNum || w == memDir || w == memLastSeed || w == btnStop) continue;
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
            qobject_cast<QTreeView*>(w) || qobject_cast<QGroupBox*>(w) ||
            qobject_cast<QComboBox*>(w) || qobject_cast<QSpinBox*>(w))
            w->setEnabled(!running);
    }
    btnStop->setEnabled(running);
    if (running)
        progressTimer_->start();
    else
        progressTimer_->stop();
    if (!running) updateBrowseControls();
}

void TfrmTolvarin::showProgress() {
    if (!observer_) return;
    int64_t maximum = observer_->maximum();
    int64_t position = observer_->position();
    if (maximum > INT_MAX) {
        const int64_t scale = maximum / INT_MAX + 1;
        maximum /= scale;
        position /= scale;
    }
    if (maximum > 0) {
        ProgressBar1->setRange(0, static_cast<int>(maximum));
        ProgressBar1->setValue(static_cast<int>(position));
    }
    const int32_t simulation = observer_->simulation();
    if (simulation > 0) {
        const QString number = QString::number(simulation);
        if (memSimNum->text() != number) memSimNum->setText(number);
    }
}

void TfrmTolvarin::finishRun(const std::shared_ptr<RunResult>& result) {
    if (worker_.joinable()) worker_.join();
    showProgress();
    setRunning(false);
    if (closeAfterRun_) {
        emit runFinished();
        close();
        // The window was hidden when it was closed during the run, so closing it now does
        // not count as closing the last window: end the event loop here.
        if (QGuiApplication::quitOnLastWindowClosed()) {
            bool otherWindow = false;
            for (QWidget* w : QApplication::topLevelWidgets())
                otherWindow = otherWindow || (w != this && w->isVisible());
            if (!otherWindow) QCoreApplication::quit();
        }
        return;
    }
    if (result->failed) {
        browser_.forgetRecords();
        results_->clear();
        lblRunStatus->setText(QString("Failed: %1").arg(result->errorText));
        showRunError(result->errorText, result->errorDetail);
    } else if (result->outcome) {
        const RunOutcome& outcome = *result->outcome;
        simsDone_ = outcome.simsDone;
        if (outcome.status == RunStatus::Rejected) {
            lblRunStatus->clear();
            if (previousDrawing_) showDrawing(*previousDrawing_);
            lblRunLine->setText(previousRunLine_);
            message(MessageKind::Warning, QString::fromStdString(outcome.warning));
        } else {
            // A stopped run keeps what it finished: its genealogies can be browsed and
            // plotted; it writes no log and no summary table.
            browser_.setRun(outcome);
            results_->setRun(outcome);
            if (outcome.status == RunStatus::Completed) {
                lblRunStatus->setText(QString("Completed %1 of %2 simulations")
                                          .arg(outcome.simsDone)
                                          .arg(outcome.simCount));
                if (result->drawn)
                    showDrawing(result->drawing);
                else
                    clearPicture();
            } else {
                lblRunStatus->setText(QString("Stopped after %1 of %2 simulations (no log)")
                                          .arg(outcome.simsDone)
                                          .arg(outcome.simCount));
                if (browser_.hasRecords()) showRecord(browser_.shownRecord());
            }
            lblRunLine->setText(QString::fromStdString(browser_.runLine()));
        }
    }
    previousDrawing_.reset();
    updateBrowseControls();
    emit runFinished();
}

void TfrmTolvarin::TreeFwd() {
    browse(true);
}

void TfrmTolvarin::TreeBack() {
    browse(false);
}

void TfrmTolvarin::browse(bool forward) {
    if (!browser_.hasRecords()) {
        message(MessageKind::Warning, "Please run simulations first");
        return;
    }
    showRecord(forward ? browser_.nextRecord() : browser_.previousRecord());
}

void TfrmTolvarin::ShowGenealogy() {
    if (!browser_.hasRecords()) {
        message(MessageKind::Warning, "Please run simulations first");
        return;
    }
    const int32_t record = browser_.recordOf(spnSimulation->value(), spnLocus->value());
    if (record == 0) {
        message(MessageKind::Warning,
                QString("The last run has no simulation %1").arg(spnSimulation->value()));
        return;
    }
    showRecord(record);
}

// Loads and draws one record; the record on screen changes only when that succeeds.
void TfrmTolvarin::showRecord(int32_t record) {
    Genealogy genealogy;
    try {
        if (!browser_.loadRecord(record, genealogy)) {
            message(MessageKind::Error, QString("Genealogy %1 not found").arg(record));
            return;
        }
    } catch (const RunError& e) {
        showRunError(QString::fromStdString(e.text()), QString::fromStdString(e.detail()));
        return;
    }
    browser_.setShown(record);
    Drawing drawing;
    drawGenealogy(browser_.picture(genealogy, chkDrawMut->isChecked()), drawing);
    drawing.text(browserCaption(browser_.caption()));
    showDrawing(drawing);
    lblRunLine->setText(QString::fromStdString(browser_.runLine()));
    updateBrowseControls();
}

void TfrmTolvarin::updateBrowseControls() {
    const bool records = browser_.hasRecords();
    const QSignalBlocker blockSimulation(spnSimulation);
    const QSignalBlocker blockLocus(spnLocus);
    spnSimulation->setRange(1, std::max(1, browser_.simulations()));
    spnLocus->setRange(1, browser_.loci());
    if (records && browser_.shownRecord() > 0) {
        spnSimulation->setValue(browser_.simulationOf(browser_.shownRecord()));
        spnLocus->setValue(browser_.locusOf(browser_.shownRecord()));
    }
    if (isRunning()) return;
    spnSimulation->setEnabled(records);
    spnLocus->setEnabled(records && browser_.msats());
    btnShowGenealogy->setEnabled(records);
}

void TfrmTolvarin::SaveGenealogy() {
    if (!browser_.runDone()) {
        message(MessageKind::Warning, "Please run simulations first");
        return;
    }
    QString name;
    if (saveNameChooser_) {
        name = saveNameChooser_();
    } else if (dlgSaveFile->exec() == QDialog::Accepted &&
               !dlgSaveFile->selectedFiles().isEmpty()) {
        name = dlgSaveFile->selectedFiles().first();
    }
    if (name.isEmpty()) return;
    try {
        saveDrawing(Image1->drawing(), name,
                    pictureFormatFor(name, dlgSaveFile->selectedNameFilter()));
    } catch (const RunError& e) {
        showRunError(QString::fromStdString(e.text()), QString::fromStdString(e.detail()));
    }
}

void TfrmTolvarin::showDrawing(const Drawing& drawing) {
    Image1->setDrawing(drawing);
    picture_ = renderDrawing(drawing);
}

void TfrmTolvarin::clearPicture() {
    picture_ = QImage();
    Image1->clear();
    lblRunLine->clear();
}

void TfrmTolvarin::message(MessageKind kind, const QString& text, const QString& detail) {
    if (messageHandler_) {
        messageHandler_(kind, text, detail);
        return;
    }
    if (kind == MessageKind::Warning) {
        QMessageBox box(QMessageBox::Information, "WARNING", text, QMessageBox::Ok, this);
        box.exec();
    } else {
        QMessageBox box(QMessageBox::Critical, "Error", text, QMessageBox::Ok, this);
        if (!detail.isEmpty()) box.setDetailedText(detail);
        box.exec();
    }
}

void TfrmTolvarin::showRunError(const QString& text, const QString& detail) {
    message(MessageKind::Error, text, detail);
}

void TfrmTolvarin::closeEvent(QCloseEvent* event) {
    if (isRunning()) {
        // The run stops after its current simulation; the window goes away now and closes
        // for good once the run has ended.
        observer_->requestStop();
        closeAfterRun_ = true;
        hide();
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace quenlith
