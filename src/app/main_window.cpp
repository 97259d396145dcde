#include "app/main_window.h"

#include "app/model_view.h"
#include "app/parameter_tabs.h"
#include "app/sheet_controls.h"
#include "base/random.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <climits>

namespace quenlith {

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
        ParameterTab tab;
        void (TfrmTolvarin::*build)(QWidget*);
    } sheets[] = {
        {"tabMain", "Main", ParameterTab::Main, &TfrmTolvarin::buildMainTab},
        {"tabSequence", "Sequence", ParameterTab::Sequence, &TfrmTolvarin::buildSequenceTab},
        {"tabMicrosatellite", "Microsatellite", ParameterTab::Microsatellite,
         &TfrmTolvarin::buildMicrosatelliteTab},
        {"tabDemographics", "Demographics", ParameterTab::Demographics,
         &TfrmTolvarin::buildDemographicsTab},
        {"tabFiles", "Files", ParameterTab::Files, &TfrmTolvarin::buildFilesTab},
    };
    for (const auto& sheet : sheets) {
        auto* page = new QWidget;
        page->setObjectName(sheet.name);
        addParameterControls(page, sheet.tab);
        (this->*sheet.build)(page);
        PageControl1->addTab(page, sheet.caption);
        orderFocusByPlace(page);
    }
    PageControl1->setCurrentIndex(0);
    buildImageArea();
    buildLayout();

    controller_ = new RunController(this);
    connect(controller_, &RunController::progress, this, &TfrmTolvarin::showProgress);
    connect(controller_, &RunController::finished, this, &TfrmTolvarin::finishRun);

    CreateForm();
}

// The run controller, a child, stops a run still going on and waits for it.
TfrmTolvarin::~TfrmTolvarin() = default;

// The sheets' headings, the labels that are not a control's caption, and the controls that
// are not parameters; the parameter controls are made from the table before these.
void TfrmTolvarin::buildMainTab(QWidget* tab) {
    addHeading(tab, "Label6", "Coalescent parameters", 8, 16);

    // Repeating a run: its seed goes into the seed box.
    addLabel(tab, "lblSeed", "Random seed", 8, 144);
    edtSeed = place(new QLineEdit(tab), "edtSeed", kEditColumn, 140, 145, kEditHeight);
    edtSeed->setPlaceholderText("clock");
    edtSeed->setToolTip("Empty: seeded from the clock. The seed of a run is shown below it and "
                        "in the run log; typed here, it repeats the run exactly.");
    addLabel(tab, "lblLastSeed", "Seed of the last run", 8, 196);
    memLastSeed = place(new QLineEdit(tab), "memLastSeed", kEditColumn, 192, 145, kEditHeight);
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

    memSimNum = place(new QLineEdit(tab), "memSimNum", 248, 301, 65, 17);
    memSimNum->setReadOnly(true);
    memSimNum->setAlignment(Qt::AlignCenter);
    memSimNum->setFont(helvetica(kControlPixels, true));
    memSimNum->setTextMargins(0, 0, 0, 0);
    lblRunStatus = addLabel(tab, "lblRunStatus", QString(), 8, 324, 305);

    Image3 = place(new QLabel(tab), "Image3", 8, 348, 150, 169);
    Image3->setAlignment(Qt::AlignLeft | Qt::AlignTop);

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
    addLabel(tab, "lblMutationRateExpl", "mutations/site/generation", 24, 112, 200);
    addHeading(tab, "lblDNAParams", "DNA mutation model", 8, 204);
    addLabel(tab, "lblBaseFrequencies", "Base Frequencies", 8, 272);
    addHeading(tab, "Label8", "Output", 8, 442);
}

void TfrmTolvarin::buildMicrosatelliteTab(QWidget* tab) {
    addHeading(tab, "lblMsatParam", "Microsatellite parameters", 8, 16);
    addHeading(tab, "Label9", "Output", 8, 204, 13);
}

void TfrmTolvarin::buildDemographicsTab(QWidget* tab) {
    // The labels of this sheet are long: its edit boxes stand further right.
    constexpr int column = 240;
    addHeading(tab, "lblFactorsN", "Factors influencing N", 8, 16);

    // A demographic model replaces the factors above: demes, sizes, migrations, pulses.
    addHeading(tab, "lblModel", "Demographic model", 8, 244);
    auto* chkDemes = tab->findChild<QCheckBox*>("chkDemes");
    // A model runs with independent streams: ticking it chooses them.
    connect(chkDemes, &QCheckBox::toggled, this, [this](bool on) {
        if (auto* random = findChild<QComboBox*>("cmbRandom"); on && random)
            random->setCurrentIndex(1);
    });
    btnModelPicture =
        place(new QPushButton("Picture...", tab), "btnModelPicture", column, 270, 73, kEditHeight);
    btnModelPicture->setToolTip(
        "The model's demes, migrations and pulses in a window of their own");
    btnDemesBrowse = place(new QPushButton("...", tab), "btnDemesBrowse", column + 73 - 25, 300, 25,
                           kEditHeight);
    btnDemesBrowse->setToolTip("Choose the model file");
    // What the model file holds, or why it cannot run, as soon as it is named.
    lblModelMessage = place(new QLabel(tab), "lblModelMessage", 32, 324, column + 73 - 32, 30);
    tblDemes = place(new QTableWidget(tab), "tblDemes", 8, 434, column + 73 - 8, 150);

    modelPanel_ = new ModelPanel(
        chkDemes, tab->findChild<QLineEdit*>("edtDemes"), tab->findChild<QLineEdit*>("edtSamples"),
        tab->findChild<QLineEdit*>("edtPloidy"), lblModelMessage, tblDemes,
        [this] { return WorkDir; }, this);
    connect(btnDemesBrowse, &QPushButton::clicked, modelPanel_, &ModelPanel::browse);
    connect(btnModelPicture, &QPushButton::clicked, modelPanel_, &ModelPanel::showPicture);
    connect(modelPanel_->pictureWindow(), &ModelWindow::saveFailed, this,
            [this](const QString& text, const QString& detail) {
                message(MessageKind::Error, text, detail);
            });
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
}

void TfrmTolvarin::buildImageArea() {
    PageControl2 = new QTabWidget(this);
    PageControl2->setObjectName("PageControl2");
    PageControl2->setFont(helvetica(kControlPixels));
    pane_ = new GenealogyPane;
    connect(pane_, &GenealogyPane::warning, this,
            [this](const QString& text) { message(MessageKind::Warning, text); });
    connect(pane_, &GenealogyPane::error, this, [this](const QString& text, const QString& detail) {
        message(MessageKind::Error, text, detail);
    });
    if (auto* drawMutations = findChild<QCheckBox*>("chkDrawMut")) {
        pane_->setDrawMutations(drawMutations->isChecked());
        connect(drawMutations, &QCheckBox::toggled, pane_, &GenealogyPane::setDrawMutations);
    }
    PageControl2->addTab(pane_, "Genealogy");

    results_ = new ResultsView;
    results_->setObjectName("tabResults");
    connect(results_, &ResultsView::saveFailed, this,
            [this](const QString& text, const QString& detail) {
                message(MessageKind::Error, text, detail);
            });
    PageControl2->addTab(results_, "Results");
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
    FormValues f = readParameterControls(*this);
    f.WorkDir = WorkDir.toStdString(); // the directory chosen in the tree
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
    pane_->runStarted();
    lastSeed_ = seed;
    simsDone_ = 0;
    memLastSeed->setText(QString::number(seed));
    lblRunStatus->setText(QString("Running (seed %1)").arg(seed));
    controller_->start(form, seed);
    setRunning(true);
}

void TfrmTolvarin::StopSimulation() {
    if (!isRunning()) return;
    controller_->stop();
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
    pane_->setRunning(running);
}

void TfrmTolvarin::showProgress(int32_t simulation, int64_t position, int64_t maximum) {
    if (maximum > INT_MAX) {
        const int64_t scale = maximum / INT_MAX + 1;
        maximum /= scale;
        position /= scale;
    }
    if (maximum > 0) {
        ProgressBar1->setRange(0, static_cast<int>(maximum));
        ProgressBar1->setValue(static_cast<int>(position));
    }
    if (simulation > 0) {
        const QString number = QString::number(simulation);
        if (memSimNum->text() != number) memSimNum->setText(number);
    }
}

void TfrmTolvarin::finishRun(const RunResult& result) {
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
    if (result.failed) {
        pane_->runFailed();
        results_->clear();
        lblRunStatus->setText(QString("Failed: %1").arg(result.errorText));
        message(MessageKind::Error, result.errorText, result.errorDetail);
    } else if (result.outcome) {
        const RunOutcome& outcome = *result.outcome;
        simsDone_ = outcome.simsDone;
        if (outcome.status == RunStatus::Rejected) {
            lblRunStatus->clear();
            pane_->runRejected();
            message(MessageKind::Warning, QString::fromStdString(outcome.warning));
        } else {
            // A stopped run keeps what it finished: its genealogies can be browsed and
            // plotted; it writes no log and no summary table.
            results_->setRun(outcome);
            if (outcome.status == RunStatus::Completed)
                lblRunStatus->setText(QString("Completed %1 of %2 simulations")
                                          .arg(outcome.simsDone)
                                          .arg(outcome.simCount));
            else
                lblRunStatus->setText(QString("Stopped after %1 of %2 simulations (no log)")
                                          .arg(outcome.simsDone)
                                          .arg(outcome.simCount));
            pane_->runEnded(outcome, result.drawn ? &result.drawing : nullptr);
        }
    }
    emit runFinished();
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

void TfrmTolvarin::closeEvent(QCloseEvent* event) {
    if (isRunning()) {
        // The run stops after its current simulation; the window goes away now and closes
        // for good once the run has ended.
        controller_->stop();
        closeAfterRun_ = true;
        hide();
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace quenlith
