#include "app/model_view.h"

#include "app/picture_files.h"
#include "base/file_io.h"
#include "base/run_error.h"
#include "demography/demes_reader.h"
#include "genealogy/demes_history.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace quenlith {

namespace {

QColor colourOf(uint32_t rgb, int alpha = 255) {
    QColor c(QRgb(0xFF000000u | rgb));
    c.setAlpha(alpha);
    return c;
}

QString plural(size_t n, const char* one, const char* many) {
    return QString("%1 %2").arg(n).arg(n == 1 ? one : many);
}

QString numberText(double v) {
    if (std::isinf(v)) return QString::fromUtf8("\u221E");
    return QString::number(v, 'g', 6);
}

// The entries of a samples text, "NAME:COUNT" each, in their order.
struct SampleEntry {
    QString name, count;
};
std::vector<SampleEntry> sampleEntries(const QString& text) {
    std::vector<SampleEntry> out;
    for (const QString& part : text.split(',', Qt::SkipEmptyParts)) {
        const QString p = part.trimmed();
        if (p.isEmpty()) continue;
        const qsizetype colon = p.lastIndexOf(':');
        if (colon < 0)
            out.push_back({p, QString()});
        else
            out.push_back({p.left(colon).trimmed(), p.mid(colon + 1).trimmed()});
    }
    return out;
}

QString samplesText(const std::vector<SampleEntry>& entries) {
    QStringList parts;
    for (const SampleEntry& e : entries)
        parts << (e.count.isEmpty() ? e.name : e.name + ":" + e.count);
    return parts.join(',');
}

constexpr int kSampleColumn = 3;

} // namespace

void paintModelDrawing(const ModelDrawing& d, QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Migration spans under everything.
    for (const ModelArrow& a : d.arrows) {
        if (a.dashed()) continue;
        const QRectF span(QPointF(std::min(a.from.x, a.to.x), a.top),
                          QPointF(std::max(a.from.x, a.to.x), a.bottom));
        painter.fillRect(span, colourOf(a.colour, 14));
    }
    for (const ModelBand& b : d.bands) {
        QPolygonF polygon;
        for (const ModelPoint& p : b.outline())
            polygon << QPointF(p.x, p.y);
        painter.setPen(QPen(colourOf(b.colour).darker(130), 1));
        painter.setBrush(colourOf(b.colour, 190));
        painter.drawPolygon(polygon);
    }
    painter.setBrush(Qt::NoBrush);
    for (const ModelLine& l : d.lines) {
        QPen pen(colourOf(l.colour), l.width);
        if (l.dashed) pen.setStyle(Qt::DashLine);
        painter.setPen(pen);
        painter.drawLine(QPointF(l.a.x, l.a.y), QPointF(l.b.x, l.b.y));
    }
    for (const ModelArrow& a : d.arrows) {
        const QPointF from(a.from.x, a.from.y), to(a.to.x, a.to.y);
        QPen pen(colourOf(a.colour), 1.5);
        if (a.dashed()) pen.setStyle(Qt::DashLine);
        painter.setPen(pen);
        painter.drawLine(from, to);
        const double length = std::hypot(to.x() - from.x(), to.y() - from.y());
        if (length < 1) continue;
        const QPointF u((to.x() - from.x()) / length, (to.y() - from.y()) / length);
        const QPointF n(-u.y(), u.x());
        const double head = std::min(7.0, length / 2);
        QPolygonF tip;
        tip << to << to - u * head + n * head * 0.5 << to - u * head - n * head * 0.5;
        painter.setPen(Qt::NoPen);
        painter.setBrush(colourOf(a.colour));
        painter.drawPolygon(tip);
        painter.setBrush(Qt::NoBrush);
    }
    for (const ModelLegendEntry& e : d.legend) {
        painter.setPen(QPen(colourOf(e.colour).darker(130), 1));
        painter.setBrush(colourOf(e.colour, 190));
        painter.drawRect(QRectF(e.at.x, e.at.y, kLegendSquare, kLegendSquare));
    }
    painter.setBrush(Qt::NoBrush);
    for (const ModelText& t : d.texts) {
        QFont font = painter.font();
        font.setPixelSize(t.pixelSize);
        painter.setFont(font);
        painter.setPen(colourOf(t.colour));
        const QString text = QString::fromStdString(t.text);
        const double x =
            t.rightAligned ? t.at.x - painter.fontMetrics().horizontalAdvance(text) : t.at.x;
        painter.drawText(QPointF(x, t.at.y), text);
    }
    painter.restore();
}

ModelView::ModelView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(360, 270);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void ModelView::setModel(std::optional<demes::Model> model) {
    model_ = std::move(model);
    update();
}

ModelDrawing ModelView::drawing() const {
    return model_ ? drawModel(*model_, width(), height()) : ModelDrawing{};
}

void ModelView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (model_)
        paintModelDrawing(drawing(), painter);
    else
        painter.drawText(rect(), Qt::AlignCenter, "No model");
}

ModelWindow::ModelWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("dlgModel");
    setWindowTitle("Model");
    setSizeGripEnabled(true);
    view_ = new ModelView(this);
    view_->setObjectName("imgModel");
    message_ = new QLabel(this);
    message_->setObjectName("lblModelPictureMessage");
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    save_ = new QPushButton("Save picture...", this);
    save_->setObjectName("btnSaveModelPicture");
    save_->setToolTip("Save the picture as PNG, SVG or PDF");
    connect(save_, &QPushButton::clicked, this, &ModelWindow::save);
    auto* column = new QVBoxLayout(this);
    column->addWidget(view_, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(message_, 1);
    row->addWidget(save_);
    column->addLayout(row);
    resize(760, 600);
}

void ModelWindow::setModel(std::optional<demes::Model> model, const QString& message) {
    save_->setEnabled(model.has_value());
    view_->setModel(std::move(model));
    message_->setText(message);
}

void ModelWindow::savePicture(const QString& path) const {
    const QString suffix = QFileInfo(path).suffix().toLower();
    const PictureFormat format = suffix == "svg"   ? PictureFormat::Svg
                                 : suffix == "pdf" ? PictureFormat::Pdf
                                                   : PictureFormat::Png;
    const QSize size = view_->size();
    const ModelDrawing drawing = view_->drawing();
    quenlith::savePicture([&](QPainter& painter) { paintModelDrawing(drawing, painter); }, size,
                          path, format);
}

void ModelWindow::save() {
    if (!view_->hasModel()) return; // the button is enabled again after a run
    QString name;
    if (chooser_) {
        name = chooser_();
    } else {
        QString filter;
        name = QFileDialog::getSaveFileName(this, "Save the model's picture", QString(),
                                            "PNG (*.png);;SVG (*.svg);;PDF (*.pdf)", &filter);
        if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty())
            name += filter.startsWith("SVG") ? ".svg" : filter.startsWith("PDF") ? ".pdf" : ".png";
    }
    if (name.isEmpty()) return;
    try {
        savePicture(name);
    } catch (const RunError& e) {
        emit saveFailed(QString::fromStdString(e.text()), QString::fromStdString(e.detail()));
    }
}

ModelPanel::ModelPanel(QCheckBox* use, QLineEdit* file, QLineEdit* samples, QLineEdit* ploidy,
                       QLabel* message, QTableWidget* table, std::function<QString()> workDir,
                       QWidget* window)
    : QObject(window), use_(use), file_(file), samples_(samples), ploidy_(ploidy),
      message_(message), table_(table), workDir_(std::move(workDir)), window_(window) {
    table_->setColumnCount(4);
    table_->setHorizontalHeaderLabels({"Deme", "Start (gen.)", "Size", "Samples"});
    table_->horizontalHeaderItem(1)->setToolTip("Generations ago when the deme starts");
    table_->horizontalHeaderItem(2)->setToolTip(
        "Individuals at the deme's end (today for the demes that exist at time 0)");
    table_->horizontalHeaderItem(3)->setToolTip(
        "Copies sampled at time 0; the demes that have ended by then take none");
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(18);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->horizontalHeader()->setFont(table_->font());
    const int widths[] = {76, 72, 64};
    for (int c = 0; c < 3; ++c)
        table_->setColumnWidth(c, widths[c]);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    picture_ = new ModelWindow(window);
    watcher_ = new QFileSystemWatcher(this);
    // Editors save by writing or by replacing the file: both come as changes of the file or
    // of its folder, often several at once; one read follows them.
    auto* again = new QTimer(this);
    again->setSingleShot(true);
    again->setInterval(150);
    connect(again, &QTimer::timeout, this, [this] {
        if (!path_.isEmpty()) reload();
    });
    connect(watcher_, &QFileSystemWatcher::fileChanged, again, qOverload<>(&QTimer::start));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this, again] {
        // Other files of the folder change too (a run's output): only this one counts.
        const QFileInfo now(path_);
        if (now.exists() != stampExists_ ||
            (now.exists() && (now.lastModified() != stampTime_ || now.size() != stampSize_)))
            again->start();
    });

    connect(use_, &QCheckBox::toggled, this, &ModelPanel::reload);
    connect(file_, &QLineEdit::textChanged, this, &ModelPanel::reload);
    connect(ploidy_, &QLineEdit::textChanged, this, &ModelPanel::reload);
    connect(samples_, &QLineEdit::textChanged, this, &ModelPanel::samplesEdited);
    connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!syncing_ && item->column() == kSampleColumn) tableEdited(item->row());
    });
    reload();
}

void ModelPanel::reload() {
    const bool on = use_->isChecked();
    message_->setVisible(on);
    table_->setVisible(on);
    model_.reset();
    history_ = DiscreteHistory{};
    path_.clear();
    QString text;
    bool refused = false;
    if (on) {
        const std::string path = joinPath(workDir_().toStdString(), file_->text().toStdString());
        path_ = QString::fromStdString(path);
        std::vector<std::string> notes;
        try {
            const std::string bytes = readWholeFile(path, 64u << 20, "the largest model file read");
            try {
                demes::Model model = demes::readModel(bytes, path);
                history_ = discreteHistory(model, ploidy_->text() == "1" ? 1 : 2, notes);
                model_ = std::move(model);
            } catch (const demes::DemesError& e) {
                text = QString::fromUtf8(e.what());
            } catch (const RunError& e) {
                text = path_ + ": " + QString::fromStdString(e.detail());
            }
        } catch (const RunError& e) {
            text = path_ + ": " + QString::fromStdString(e.text()) +
                   (e.detail().empty() ? QString() : ": " + QString::fromStdString(e.detail()));
        }
        if (model_) {
            text = plural(model_->demes.size(), "deme", "demes") + ", " +
                   plural(model_->migrations.size(), "migration", "migrations") + ", " +
                   plural(model_->pulses.size(), "pulse", "pulses");
            QStringList lines;
            for (const std::string& n : notes)
                lines << QString::fromStdString(n);
            message_->setToolTip(lines.join('\n'));
        } else {
            refused = true;
            message_->setToolTip(text);
        }
    }
    message_->setText(text);
    message_->setStyleSheet(refused ? "color: #C00000;" : "");
    const QFileInfo read(path_);
    stampExists_ = !path_.isEmpty() && read.exists();
    stampTime_ = stampExists_ ? read.lastModified() : QDateTime();
    stampSize_ = stampExists_ ? read.size() : -1;
    fillTable();
    watch();
    picture_->setModel(model_, on ? text : QString("No model: tick \"Demographic model\""));
}

void ModelPanel::watch() {
    if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
    if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
    if (path_.isEmpty()) return;
    const QFileInfo info(path_);
    if (info.exists()) watcher_->addPath(info.absoluteFilePath());
    if (info.absoluteDir().exists()) watcher_->addPath(info.absolutePath());
}

void ModelPanel::fillTable() {
    syncing_ = true;
    table_->setRowCount(0);
    if (model_) {
        const demes::Model& m = *model_;
        const double g = m.generationTime > 0 ? m.generationTime : 1;
        table_->setRowCount(static_cast<int>(m.demes.size()));
        for (size_t d = 0; d < m.demes.size(); ++d) {
            const demes::Deme& deme = m.demes[d];
            const int row = static_cast<int>(d);
            const QString cells[] = {QString::fromStdString(deme.name),
                                     numberText(deme.startTime / g),
                                     numberText(deme.epochs.back().endSize)};
            for (int c = 0; c < 3; ++c) {
                auto* item = new QTableWidgetItem(cells[c]);
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
                if (c == 0)
                    item->setForeground(colourOf(demeColour(static_cast<int32_t>(d))).darker(120));
                if (c > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                table_->setItem(row, c, item);
            }
            const bool present = d < history_.demes.size() && history_.demes[d].end == 0;
            auto* count = new QTableWidgetItem;
            count->setTextAlignment(Qt::AlignCenter);
            if (present) {
                count->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
            } else {
                count->setFlags(Qt::ItemIsSelectable);
                count->setBackground(QColor(0xEE, 0xEE, 0xEE));
                count->setToolTip("This deme ends before time 0: it cannot be sampled");
            }
            table_->setItem(row, kSampleColumn, count);
        }
    }
    syncing_ = false;
    samplesEdited();
}

void ModelPanel::tableEdited(int row) {
    const QTableWidgetItem* nameItem = table_->item(row, 0);
    const QTableWidgetItem* countItem = table_->item(row, kSampleColumn);
    if (!nameItem || !countItem) return;
    const QString name = nameItem->text();
    const QString count = countItem->text().trimmed();
    // Only this deme's entry changes: the others, even those the model lacks, stay.
    std::vector<SampleEntry> entries = sampleEntries(samples_->text());
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const SampleEntry& e) { return e.name == name; });
    const bool none = count.isEmpty() || count == "0";
    if (it != entries.end() && none)
        entries.erase(it);
    else if (it != entries.end())
        it->count = count;
    else if (!none)
        entries.push_back({name, count});
    syncing_ = true;
    samples_->setText(samplesText(entries));
    syncing_ = false;
}

void ModelPanel::samplesEdited() {
    if (syncing_) return;
    const std::vector<SampleEntry> entries = sampleEntries(samples_->text());
    syncing_ = true;
    for (int row = 0; row < table_->rowCount(); ++row) {
        QTableWidgetItem* name = table_->item(row, 0);
        QTableWidgetItem* count = table_->item(row, kSampleColumn);
        if (!name || !count) continue;
        QString value;
        for (const SampleEntry& e : entries)
            if (e.name == name->text()) value = e.count;
        count->setText(value);
    }
    syncing_ = false;
}

void ModelPanel::browse() {
    QString chosen;
    if (chooser_) {
        chosen = chooser_();
    } else {
        const QString start = QFileInfo(path_.isEmpty() ? workDir_() : path_).absolutePath();
        chosen = QFileDialog::getOpenFileName(window_, "Demographic model", start,
                                              "Demes models (*.yaml *.yml *.json);;All files (*)");
    }
    if (chosen.isEmpty()) return;
    // A file of the working directory (or below it) by its relative name, any other by its
    // absolute path.
    const QDir work(QFileInfo(workDir_()).absoluteFilePath());
    const QString absolute = QFileInfo(chosen).absoluteFilePath();
    const QString relative = work.relativeFilePath(absolute);
    const bool inside = !relative.startsWith("..") && !QDir::isAbsolutePath(relative);
    use_->setChecked(true);
    file_->setText(inside ? relative : absolute);
    reload();
}

void ModelPanel::showPicture() {
    picture_->show();
    picture_->raise();
    picture_->activateWindow();
}

} // namespace quenlith
