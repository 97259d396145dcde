#pragma once
// The Genealogy sheet: the genealogy image, the line that names it, the jump to a simulation
// (and locus), the back and forward buttons and saving the image. It keeps the browser of
// the last completed run; the window tells it when runs start and how they end.
#include "app/genealogy_browser.h"
#include "app/genealogy_drawing.h"
#include "app/genealogy_view.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QFileDialog;
class QLabel;
class QPushButton;
class QSpinBox;

namespace quenlith {

class GenealogyPane : public QWidget {
    Q_OBJECT

  public:
    // Asks for the name to save the image under; empty when cancelled.
    using SaveNameChooser = std::function<QString()>;

    explicit GenealogyPane(QWidget* parent = nullptr);

    const GenealogyBrowser& browser() const { return browser_; }
    // The picture on screen at 633 x 529 (null when cleared).
    const QImage& picture() const { return picture_; }
    void setSaveNameChooser(SaveNameChooser chooser) { saveNameChooser_ = std::move(chooser); }
    // Whether genealogies browsed to are drawn with their mutations.
    void setDrawMutations(bool on) { drawMutations_ = on; }

    // A run starts: the drawing on screen goes (kept to be put back should the run be refused).
    void runStarted();
    // The run was refused before it wrote anything: the drawing of before it comes back.
    void runRejected();
    // The run failed after it may have rewritten the files of the records: none is left.
    void runFailed();
    // The run completed (with the drawing of its last genealogy, if it stored one) or was
    // stopped (its last stored genealogy is shown).
    void runEnded(const RunOutcome& outcome, const Drawing* lastDrawing);
    // While a run goes on the jump controls keep the state the window gave them.
    void setRunning(bool running);

  public slots:
    void forward();
    void back();
    // Shows the genealogy chosen in the simulation and locus boxes.
    void showChosen();
    void save();

  signals:
    void warning(const QString& text);
    void error(const QString& text, const QString& detail);

  private:
    void browse(bool forward);
    void showRecord(int32_t record);
    void showDrawing(const Drawing& drawing);
    void clearPicture();
    void updateControls();
    void runOver();

    GenealogyBrowser browser_;
    QImage picture_;
    bool drawMutations_ = true;
    bool running_ = false;
    std::optional<Drawing> previousDrawing_; // on screen before the run in progress
    QString previousRunLine_;
    SaveNameChooser saveNameChooser_;

    GenealogyView* Image1 = nullptr;
    QLabel* lblRunLine = nullptr; // names the run and the genealogy on screen
    QSpinBox* spnSimulation = nullptr;
    QSpinBox* spnLocus = nullptr;
    QPushButton* btnShowGenealogy = nullptr;
    QFileDialog* dlgSaveFile = nullptr;
};

} // namespace quenlith
