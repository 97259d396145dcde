#pragma once
// The main window: five tab sheets with the parameter controls of the parameter table, the
// run button and its progress display, the working directory, and on the right the genealogy
// pane and the plots. Controls carry the names of the FormValues fields they fill; the run
// itself goes on in a RunController.
#include "app/genealogy_pane.h"
#include "app/results_view.h"
#include "app/run_controller.h"
#include "run/form_values.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QFileSystemModel;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTabWidget;
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
    using SaveNameChooser = GenealogyPane::SaveNameChooser;

    explicit TfrmTolvarin(QWidget* parent = nullptr);
    ~TfrmTolvarin() override;

    // Every control's text or state.
    FormValues formValues() const;

    QString workDir() const { return WorkDir; }
    bool runDone() const { return pane_->browser().runDone(); }
    bool isRunning() const { return controller_->isRunning(); }
    int32_t shownRecord() const { return pane_->browser().shownRecord(); }
    // The picture of Image1 at 633 x 529 (null when cleared).
    const QImage& picture() const { return pane_->picture(); }
    // The seed of the last run that started (none before the first).
    std::optional<uint64_t> lastSeed() const { return lastSeed_; }
    // Whole simulations the last run completed (all of them unless it was stopped).
    int32_t simulationsDone() const { return simsDone_; }
    ResultsView* results() const { return results_; }
    ModelPanel* modelPanel() const { return modelPanel_; }
    GenealogyPane* genealogyPane() const { return pane_; }

    // Fixes the seed of the following runs (tests); without it the seed box, or when that is
    // empty the clock, seeds every run.
    void setFixedSeed(std::optional<uint64_t> seed) { fixedSeed_ = seed; }
    void setMessageHandler(MessageHandler handler) { messageHandler_ = std::move(handler); }
    void setSaveNameChooser(SaveNameChooser chooser) {
        pane_->setSaveNameChooser(std::move(chooser));
    }

  public slots:
    void RunSimulation();
    // Stops the run after its current simulation (inside a long genealogy: at once, the
    // simulation in progress being abandoned).
    void StopSimulation();
    void AssignDirectory();

  signals:
    // A run has ended (completed, rejected, failed or stopped).
    void runFinished();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateForm();
    void buildMainTab(QWidget* tab);
    void buildSequenceTab(QWidget* tab);
    void buildMicrosatelliteTab(QWidget* tab);
    void buildDemographicsTab(QWidget* tab);
    void buildFilesTab(QWidget* tab);
    void buildImageArea();
    void buildLayout();

    void setRunning(bool running);
    void showProgress(int32_t simulation, int64_t position, int64_t maximum);
    void finishRun(const RunResult& result);
    void message(MessageKind kind, const QString& text, const QString& detail = {});

    // Window state
    QString WorkDir;
    std::optional<uint64_t> fixedSeed_;
    std::optional<uint64_t> lastSeed_;
    int32_t simsDone_ = 0;
    MessageHandler messageHandler_;
    RunController* controller_ = nullptr;
    bool closeAfterRun_ = false;

    // Tab sheets; the parameter controls are found by their names.
    QTabWidget* PageControl1 = nullptr;

    // Main
    QPushButton* btnRunSimulation = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLineEdit* memSimNum = nullptr;
    QLabel* Image3 = nullptr;
    QLineEdit* edtSeed = nullptr;     // empty: the clock
    QLineEdit* memLastSeed = nullptr; // the seed of the last run, to copy
    QPushButton* btnStop = nullptr;
    QLabel* lblRunStatus = nullptr; // how the last run ended

    // Demographics
    QPushButton* btnDemesBrowse = nullptr;
    QPushButton* btnModelPicture = nullptr;
    QLabel* lblModelMessage = nullptr;
    QTableWidget* tblDemes = nullptr;
    ModelPanel* modelPanel_ = nullptr; // reads the model, fills the table and picture

    // Files
    QTreeView* DirectoryTreeView1 = nullptr;
    QFileSystemModel* directoryModel_ = nullptr;
    QLineEdit* memDir = nullptr;

    // The Genealogy sheet and the plots on the Results sheet
    QTabWidget* PageControl2 = nullptr;
    GenealogyPane* pane_ = nullptr;
    ResultsView* results_ = nullptr;
};

} // namespace quenlith
