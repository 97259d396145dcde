#pragma once
// The main window: five tab sheets with every parameter control, the run button and its
// progress display, the genealogy image with its browse and save buttons, and the working
// directory. Controls carry the names of the FormValues fields they fill.
#include "app/genealogy_browser.h"
#include "app/genealogy_view.h"
#include "app/results_view.h"
#include "run/form_values.h"
#include "run/run_driver.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QSpinBox;
class QFileDialog;
class QFileSystemModel;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTabWidget;
class QTimer;
class QTreeView;

namespace quenlith {

class ModelPanel;

// A seed typed into the seed box: a decimal integer from 0 to 2^32 - 1 for the 32-bit
// generator, to 2^64 - 1 for streams, blanks around it allowed. None when it is not one.
std::optional<uint64_t> parseSeed(const QString& text, RandomKind kind);

class TfrmTolvarin : public QWidget {
    Q_OBJECT

  public:
    enum class MessageKind { Warning, Error };
    // Shows a message: a "WARNING" box, or the error dialog with its detail text.
    using MessageHandler =
        std::function<void(MessageKind kind, const QString& text, const QString& detail)>;
    // Asks for the name to save the image under; empty when cancelled.
    using SaveNameChooser = std::function<QString()>;

    explicit TfrmTolvarin(QWidget* parent = nullptr);
    ~TfrmTolvarin() override;

    // Every control's text or state.
    FormValues formValues() const;

    QString workDir() const { return WorkDir; }
    bool runDone() const { return browser_.runDone(); }
    bool isRunning() const { return worker_.joinable(); }
    int32_t shownRecord() const { return browser_.shownRecord(); }
    // The picture of Image1 at 633 x 529 (null when cleared).
    const QImage& picture() const { return picture_; }
    // The seed of the last run that started (none before the first).
    std::optional<uint64_t> lastSeed() const { return lastSeed_; }
    // Whole simulations the last run completed (all of them unless it was stopped).
    int32_t simulationsDone() const { return simsDone_; }
    ResultsView* results() const { return results_; }
    ModelPanel* modelPanel() const { return modelPanel_; }

    // Fixes the seed of the following runs (tests); without it the seed box, or when that is
    // empty the clock, seeds every run.
    void setFixedSeed(std::optional<uint64_t> seed) { fixedSeed_ = seed; }
    void setMessageHandler(MessageHandler handler) { messageHandler_ = std::move(handler); }
    void setSaveNameChooser(SaveNameChooser chooser) { saveNameChooser_ = std::move(chooser); }

  public slots:
    void RunSimulation();
    // Stops the run after its current simulation (inside a long genealogy: at once, the
    // simulation in progress being abandoned).
    void StopSimulation();
    // Shows the genealogy chosen in the simulation and locus boxes.
    void ShowGenealogy();
    void AssignDirectory();
    void TreeFwd();
    void TreeBack();
    void SaveGenealogy();

  signals:
    // A run has ended (completed, rejected, failed or stopped).
    void runFinished();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    struct RunResult;
    class Observer;

    void CreateForm();
    void buildMainTab(QWidget* tab);
    void buildSequenceTab(QWidget* tab);
    void buildMicrosatelliteTab(QWidget* tab);
    void buildDemographicsTab(QWidget* tab);
    void buildFilesTab(QWidget* tab);
    void buildImageArea();

    void setRunning(bool running);
    void showProgress();
    void finishRun(const std::shared_ptr<RunResult>& result);
    void browse(bool forward);
    void showRecord(int32_t record);
    void showDrawing(const Drawing& drawing);
    void clearPicture();
    void updateBrowseControls();
    void buildLayout();
    void message(MessageKind kind, const QString& text, const QString& detail = {});
    void showRunError(const QString& text, const QString& detail);

    // Window state
    QString WorkDir;
    GenealogyBrowser browser_;
    QImage picture_;
    std::optional<uint64_t> fixedSeed_;
    std::optional<uint64_t> lastSeed_;
    std::optional<Drawing> previousDrawing_; // on screen before the run in progress
    QString previousRunLine_;
    int32_t simsDone_ = 0;
    MessageHandler messageHandler_;
    SaveNameChooser saveNameChooser_;
    std::thread worker_;
    std::unique_ptr<Observer> observer_;
    QTimer* progressTimer_ = nullptr; // shows the run's progress while it goes on
    bool closeAfterRun_ = false;

    // Tab sheets
    QTabWidget* PageControl1 = nullptr;

    // Main
    QLineEdit* edtSampleSize = nullptr;
    QLineEdit* edtPopulationSize = nullptr;
    QCheckBox* chkMultipleSims = nullptr;
    QLineEdit* edtNumberSimulations = nullptr;
    QPushButton* btnRunSimulation = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QCheckBox* chkDrawMut = nullptr;
    QLineEdit* memSimNum = nullptr;
    QLabel* Image3 = nullptr;
    QLineEdit* edtSeed = nullptr;     // empty: the clock
    QComboBox* cmbRandom = nullptr;   // the 32-bit generator or counter-based streams
    QComboBox* cmbMergers = nullptr;  // one merge per generation, or every set on one parent
    QLineEdit* memLastSeed = nullptr; // the seed of the last run, to copy
    QPushButton* btnStop = nullptr;
    QLabel* lblRunStatus = nullptr; // how the last run ended

    // Sequence
    QLineEdit* edtSeqLength = nullptr;
    QCheckBox* chkSeqInput = nullptr;
    QLineEdit* edtSeqFile = nullptr;
    QLineEdit* edtMutationRate = nullptr;
    QCheckBox* chkDiploid = nullptr;
    QCheckBox* chkSegSites = nullptr;
    QCheckBox* chkScatterMut = nullptr;
    QRadioButton* radJC69 = nullptr;
    QRadioButton* radK2P = nullptr;
    QRadioButton* radF81 = nullptr;
    QRadioButton* radHKY85 = nullptr;
    QLineEdit* edtFreqA = nullptr;
    QLineEdit* edtFreqC = nullptr;
    QLineEdit* edtFreqG = nullptr;
    QLineEdit* edtTiTv = nullptr;
    QCheckBox* chkInvarSites = nullptr;
    QLineEdit* edtI = nullptr;
    QCheckBox* chkShapeParameter = nullptr;
    QLineEdit* edtAlpha = nullptr;
    QCheckBox* chkSeqDiversity = nullptr;
    QCheckBox* chkSeqOut = nullptr;
    QLineEdit* edtSeqOut = nullptr;
    QGroupBox* rdgOutput = nullptr;
    QButtonGroup* rdgOutputItems = nullptr;

    // Microsatellite
    QCheckBox* chkMsats = nullptr;
    QLineEdit* edtNumLoci = nullptr;
    QRadioButton* radInfiniteAlleles = nullptr;
    QRadioButton* radStepwise = nullptr;
    QRadioButton* radAllele = nullptr;
    QLineEdit* edtMsatIn = nullptr;
    QCheckBox* chkMSatOut = nullptr;
    QCheckBox* chkMSatDiversity = nullptr;
    QLineEdit* edtMSatData = nullptr;

    // Demographics
    QCheckBox* chkVarRepSuc = nullptr;
    QLineEdit* edtVarRepSuc = nullptr;
    QLineEdit* edtMeanOffsp = nullptr;
    QCheckBox* chkFluctuatingN = nullptr;
    QLineEdit* edtGrowthStart = nullptr;
    QLineEdit* edtGrowthEnd = nullptr;
    QLineEdit* edtChangeN = nullptr;
    QCheckBox* chkDemes = nullptr;
    QLineEdit* edtDemes = nullptr;
    QLineEdit* edtSamples = nullptr;
    QLineEdit* edtPloidy = nullptr;
    QPushButton* btnDemesBrowse = nullptr;
    QPushButton* btnModelPicture = nullptr;
    QLabel* lblModelMessage = nullptr;
    QTableWidget* tblDemes = nullptr;
    ModelPanel* modelPanel_ = nullptr; // reads the model, fills the table and picture

    // Files
    QTreeView* DirectoryTreeView1 = nullptr;
    QFileSystemModel* directoryModel_ = nullptr;
    QLineEdit* memDir = nullptr;
    QLineEdit* edtTmrca = nullptr;
    QLineEdit* edtNewickTrees = nullptr;
    QLineEdit* edtMutDistrib = nullptr;
    QLineEdit* edtCoalDistrib = nullptr;
    QLineEdit* edtLogFile = nullptr;
    QCheckBox* chkArlequin = nullptr;
    QCheckBox* chkStats = nullptr;
    QLineEdit* edtStats = nullptr;
    QCheckBox* chkVcf = nullptr;
    QLineEdit* edtVcf = nullptr;
    QCheckBox* chkMs = nullptr;
    QLineEdit* edtMs = nullptr;
    QCheckBox* chkEachSim = nullptr;
    QLineEdit* edtEachSim = nullptr;
    QLineEdit* edtEachSimFormat = nullptr;

    // Image and its buttons, on the Genealogy sheet; the plots on the Results sheet
    QTabWidget* PageControl2 = nullptr;
    GenealogyView* Image1 = nullptr;
    QLabel* lblRunLine = nullptr; // names the run and the genealogy on screen
    QSpinBox* spnSimulation = nullptr;
    QSpinBox* spnLocus = nullptr;
    QPushButton* btnShowGenealogy = nullptr;
    ResultsView* results_ = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QFileDialog* dlgSaveFile = nullptr;
};

} // namespace quenlith
