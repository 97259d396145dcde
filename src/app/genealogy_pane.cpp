#include "app/genealogy_pane.h"

#include "app/button_glyphs.h"
#include "app/genealogy_image.h"
#include "app/genealogy_view.h"
#include "app/picture_files.h"
#include "app/sheet_controls.h"
#include "base/run_error.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace quenlith {

namespace {

QPushButton* addBitmapButton(QWidget* parent, const char* name, const QPixmap& glyph) {
    QPushButton* button = place(new QPushButton(parent), name, 0, 0, 49, 49);
    button->setFixedSize(49, 49);
    button->setIcon(QIcon(glyph));
    button->setIconSize(glyph.size());
    return button;
}

} // namespace

GenealogyPane::GenealogyPane(QWidget* parent) : QWidget(parent) {
    setObjectName("tabGenealogy");
    Image1 = new GenealogyView(this);
    Image1->setObjectName("Image1");
    lblRunLine = new QLabel(this);
    lblRunLine->setObjectName("lblRunLine");
    lblRunLine->setFont(helvetica(kControlPixels));
    lblRunLine->setTextInteractionFlags(Qt::TextSelectableByMouse);

    spnSimulation = new QSpinBox(this);
    spnSimulation->setObjectName("spnSimulation");
    spnLocus = new QSpinBox(this);
    spnLocus->setObjectName("spnLocus");
    for (QSpinBox* box : {spnSimulation, spnLocus}) {
        box->setRange(1, 1);
        box->setFont(helvetica(kControlPixels));
        box->setMinimumWidth(64);
    }
    btnShowGenealogy = new QPushButton("Show", this);
    btnShowGenealogy->setObjectName("btnShowGenealogy");
    btnShowGenealogy->setToolTip("Show the genealogy of this simulation (and locus)");
    connect(btnShowGenealogy, &QPushButton::clicked, this, &GenealogyPane::showChosen);
    connect(spnSimulation, &QSpinBox::editingFinished, this, [this] {
        if (spnSimulation->hasFocus()) showChosen();
    });

    // Save, back and forward, named as the tests and the screenshot tool find them.
    QPushButton* BitBtn3 = addBitmapButton(this, "BitBtn3", diskGlyph());
    QPushButton* BitBtn2 = addBitmapButton(this, "BitBtn2", arrowGlyph(false));
    QPushButton* BitBtn1 = addBitmapButton(this, "BitBtn1", arrowGlyph(true));
    BitBtn3->setToolTip("Save the genealogy image (BMP, PNG, SVG or PDF)");
    BitBtn2->setToolTip("Previous genealogy");
    BitBtn1->setToolTip("Next genealogy");
    connect(BitBtn1, &QPushButton::clicked, this, &GenealogyPane::forward);
    connect(BitBtn2, &QPushButton::clicked, this, &GenealogyPane::back);
    connect(BitBtn3, &QPushButton::clicked, this, &GenealogyPane::save);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(Image1, 1);
    column->addWidget(lblRunLine);
    auto* row = new QHBoxLayout;
    auto* lblSimulation = new QLabel("Simulation", this);
    lblSimulation->setObjectName("lblJumpSimulation");
    auto* lblLocus = new QLabel("Locus", this);
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
    updateControls();
}

void GenealogyPane::runStarted() {
    previousDrawing_ =
        Image1->hasDrawing() ? std::optional<Drawing>(Image1->drawing()) : std::nullopt;
    previousRunLine_ = lblRunLine->text();
    clearPicture();
}

void GenealogyPane::runRejected() {
    if (previousDrawing_) showDrawing(*previousDrawing_);
    lblRunLine->setText(previousRunLine_);
    runOver();
}

void GenealogyPane::runFailed() {
    browser_.forgetRecords();
    runOver();
}

void GenealogyPane::runEnded(const RunOutcome& outcome, const Drawing* lastDrawing) {
    // A stopped run keeps what it finished: its genealogies can be browsed.
    browser_.setRun(outcome);
    if (outcome.status == RunStatus::Completed) {
        if (lastDrawing)
            showDrawing(*lastDrawing);
        else
            clearPicture();
    } else if (browser_.hasRecords()) {
        showRecord(browser_.shownRecord());
    }
    lblRunLine->setText(QString::fromStdString(browser_.runLine()));
    runOver();
}

void GenealogyPane::runOver() {
    previousDrawing_.reset();
    updateControls();
}

void GenealogyPane::setRunning(bool running) {
    running_ = running;
    if (!running) updateControls();
}

void GenealogyPane::forward() {
    browse(true);
}

void GenealogyPane::back() {
    browse(false);
}

void GenealogyPane::browse(bool forward) {
    if (!browser_.hasRecords()) {
        emit warning("Please run simulations first");
        return;
    }
    showRecord(forward ? browser_.nextRecord() : browser_.previousRecord());
}

void GenealogyPane::showChosen() {
    if (!browser_.hasRecords()) {
        emit warning("Please run simulations first");
        return;
    }
    const int32_t record = browser_.recordOf(spnSimulation->value(), spnLocus->value());
    if (record == 0) {
        emit warning(QString("The last run has no simulation %1").arg(spnSimulation->value()));
        return;
    }
    showRecord(record);
}

// Loads and draws one record; the record on screen changes only when that succeeds.
void GenealogyPane::showRecord(int32_t record) {
    Genealogy genealogy;
    try {
        if (!browser_.loadRecord(record, genealogy)) {
            emit error(QString("Genealogy %1 not found").arg(record), QString());
            return;
        }
    } catch (const RunError& e) {
        emit error(QString::fromStdString(e.text()), QString::fromStdString(e.detail()));
        return;
    }
    browser_.setShown(record);
    Drawing drawing;
    drawGenealogy(browser_.picture(genealogy, drawMutations_), drawing);
    drawing.text(browserCaption(browser_.caption()));
    showDrawing(drawing);
    lblRunLine->setText(QString::fromStdString(browser_.runLine()));
    updateControls();
}

void GenealogyPane::updateControls() {
    const bool records = browser_.hasRecords();
    const QSignalBlocker blockSimulation(spnSimulation);
    const QSignalBlocker blockLocus(spnLocus);
    spnSimulation->setRange(1, std::max(1, browser_.simulations()));
    spnLocus->setRange(1, browser_.loci());
    if (records && browser_.shownRecord() > 0) {
        spnSimulation->setValue(browser_.simulationOf(browser_.shownRecord()));
        spnLocus->setValue(browser_.locusOf(browser_.shownRecord()));
    }
    if (running_) return;
    spnSimulation->setEnabled(records);
    spnLocus->setEnabled(records && browser_.msats());
    btnShowGenealogy->setEnabled(records);
}

void GenealogyPane::save() {
    if (!browser_.runDone()) {
        emit warning("Please run simulations first");
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
        emit error(QString::fromStdString(e.text()), QString::fromStdString(e.detail()));
    }
}

void GenealogyPane::showDrawing(const Drawing& drawing) {
    Image1->setDrawing(drawing);
    picture_ = renderDrawing(drawing);
}

void GenealogyPane::clearPicture() {
    picture_ = QImage();
    Image1->clear();
    lblRunLine->clear();
}

} // namespace quenlith
