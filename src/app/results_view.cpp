#include "app/results_view.h"

#include "app/picture_files.h"
#include "app/run_theory.h"
#include "base/run_error.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPainter>
#include <QPushButton>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <functional>

namespace quenlith {

namespace {

constexpr int kBins = 30;

QString title(PlotKind kind, bool msats) {
    switch (kind) {
    case PlotKind::Tmrca:
        return "Time to the most recent common ancestor";
    case PlotKind::MutationEvents:
        return msats ? "Mutation events per genealogy" : "Mutation events (segregating sites)";
    case PlotKind::WaitingTimes:
        return "Mean time with a lineages";
    case PlotKind::Alleles:
        return "Mean number of alleles per locus";
    case PlotKind::GeneDiversity:
        return "Mean gene diversity per locus";
    }
    return {};
}

QLineSeries* namedLine(const char* name, const QString& legend, const QColor& colour,
                       int width = 2) {
    auto* series = new QLineSeries;
    series->setObjectName(name);
    series->setName(legend);
    QPen pen(colour);
    pen.setWidth(width);
    series->setPen(pen);
    return series;
}

// A histogram of integer values as a stepped outline, in the fraction of genealogies per
// bin, with a vertical line at the expectation when it is known.
void histogramChart(QChart* chart, const std::vector<int32_t>& values, const QString& xTitle,
                    double expected,
                    const std::function<std::vector<double>(int64_t)>& exact = {}) {
    const Histogram h = makeHistogram(values, kBins);
    const double n = static_cast<double>(std::max<size_t>(values.size(), 1));
    auto* observed = namedLine("observed", "Simulated", QColor(0x30, 0x60, 0xC0));
    double top = 0;
    for (size_t b = 0; b < h.counts.size(); ++b) {
        const double lo = static_cast<double>(h.start + static_cast<int64_t>(b) * h.width);
        const double hi = lo + static_cast<double>(h.width);
        const double f = static_cast<double>(h.counts[b]) / n;
        observed->append(lo, b == 0 ? 0 : observed->points().back().y());
        observed->append(lo, f);
        observed->append(hi, f);
        top = std::max(top, f);
    }
    if (!h.counts.empty()) observed->append(observed->points().back().x(), 0);
    chart->addSeries(observed);

    // The exact probability of each bin, as a stepped line over the histogram.
    const std::vector<double> pmf =
        exact && !h.counts.empty()
            ? exact(h.start + static_cast<int64_t>(h.counts.size()) * h.width)
            : std::vector<double>();
    if (!pmf.empty()) {
        auto* curve =
            namedLine("expectedDistribution", "Exact distribution", QColor(0xD0, 0x20, 0x20), 1);
        for (size_t b = 0; b < h.counts.size(); ++b) {
            const int64_t lo = h.start + static_cast<int64_t>(b) * h.width;
            double mass = 0;
            for (int64_t t = lo; t < lo + h.width; ++t)
                mass += pmf[static_cast<size_t>(t)];
            curve->append(static_cast<double>(lo), mass);
            curve->append(static_cast<double>(lo + h.width), mass);
            top = std::max(top, mass);
        }
        chart->addSeries(curve);
    }

    double xMin = h.counts.empty() ? 0 : static_cast<double>(h.start);
    double xMax =
        h.counts.empty()
            ? 1
            : static_cast<double>(h.start + static_cast<int64_t>(h.counts.size()) * h.width);
    if (expected >= 0) {
        auto* line = namedLine("expected", QString("Expected: %1").arg(expected, 0, 'f', 1),
                               QColor(0xD0, 0x20, 0x20));
        line->append(expected, 0);
        line->append(expected, top > 0 ? top * 1.05 : 1);
        chart->addSeries(line);
        xMin = std::min(xMin, expected);
        xMax = std::max(xMax, expected);
    }
    auto* x = new QValueAxis;
    x->setTitleText(xTitle);
    x->setRange(xMin, xMax);
    x->applyNiceNumbers();
    x->setLabelFormat("%.0f");
    auto* y = new QValueAxis;
    y->setTitleText("Fraction of genealogies");
    y->setRange(0, top > 0 ? top * 1.1 : 1);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
}

void waitingTimeChart(QChart* chart, const PlotData& d) {
    auto* observed = new QScatterSeries;
    observed->setObjectName("observed");
    observed->setName("Simulated mean");
    observed->setMarkerSize(7);
    observed->setColor(QColor(0x30, 0x60, 0xC0));
    double lo = 1e300, hi = 0;
    for (size_t a = 2; a < d.waitingTimeSum.size() && d.records > 0; ++a) {
        const double mean = static_cast<double>(d.waitingTimeSum[a]) / d.records;
        if (mean <= 0) continue; // no place on a logarithmic axis
        observed->append(static_cast<double>(a), mean);
        lo = std::min(lo, mean);
        hi = std::max(hi, mean);
    }
    chart->addSeries(observed);
    if (d.constantSize) {
        auto* expected =
            namedLine("expected", "Expected: 1 / P(coalescence)", QColor(0xD0, 0x20, 0x20));
        const std::vector<double> p = coalescenceProbabilities(d.sampleSize, d.popSize);
        for (int32_t a = 2; a <= d.sampleSize; ++a) {
            const double e = 1.0 / p[static_cast<size_t>(a)];
            expected->append(a, e);
            lo = std::min(lo, e);
            hi = std::max(hi, e);
        }
        chart->addSeries(expected);
    }
    if (hi <= 0) lo = 1, hi = 10;
    auto* x = new QValueAxis;
    x->setTitleText("Number of lineages a");
    x->setRange(2, std::max(3, d.sampleSize));
    x->setLabelFormat("%.0f");
    auto* y = new QLogValueAxis;
    y->setTitleText("Generations");
    y->setBase(10);
    y->setLabelFormat("%g");
    y->setRange(std::max(lo / 1.5, 0.1), hi * 1.5);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
}

void perLocusChart(QChart* chart, const std::vector<double>& values, const QString& yTitle) {
    auto* set = new QBarSet(yTitle);
    set->setColor(QColor(0x30, 0x60, 0xC0));
    QStringList categories;
    double top = 0;
    for (size_t l = 0; l < values.size(); ++l) {
        *set << values[l];
        categories << QString::number(l + 1);
        top = std::max(top, values[l]);
    }
    auto* series = new QBarSeries;
    series->setObjectName("observed");
    series->append(set);
    chart->addSeries(series);
    auto* x = new QBarCategoryAxis;
    x->append(categories);
    x->setTitleText("Locus");
    auto* y = new QValueAxis;
    y->setTitleText(yTitle);
    y->setRange(0, top > 0 ? top * 1.1 : 1);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    chart->legend()->hide();
}

} // namespace

PlotData plotDataOf(const RunOutcome& o) {
    PlotData d;
    d.msats = o.msats;
    d.sampleSize = o.sampleSize;
    d.popSize = o.popSize;
    d.constantSize = o.constantSize;
    d.mutationProbability = o.mutationProbability;
    d.records = static_cast<int32_t>(o.tmrcaPerRecord.size());
    d.tmrca = o.tmrcaPerRecord;
    d.mutationEvents = o.MutCountPerSim;
    d.waitingTimeSum = o.waitingTimeSum;
    d.allelesPerLocus = o.meanAllelesPerLocus;
    d.geneDiversityPerLocus = o.meanGeneDiversityPerLocus;
    return d;
}

std::vector<PlotKind> plotsOf(const PlotData& d) {
    std::vector<PlotKind> kinds;
    if (d.records <= 0) return kinds;
    kinds = {PlotKind::Tmrca, PlotKind::MutationEvents, PlotKind::WaitingTimes};
    if (d.msats && !d.allelesPerLocus.empty()) kinds.push_back(PlotKind::Alleles);
    if (d.msats && !d.geneDiversityPerLocus.empty()) kinds.push_back(PlotKind::GeneDiversity);
    return kinds;
}

QChart* makeChart(PlotKind kind, const PlotData& d) {
    auto* chart = new QChart;
    chart->setTitle(title(kind, d.msats));
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignBottom);
    switch (kind) {
    case PlotKind::Tmrca:
        if (d.constantSize)
            histogramChart(
                chart, d.tmrca, "TMRCA (generations)", expectedTmrca(d.sampleSize, d.popSize),
                [&d](int64_t maxT) { return tmrcaDistribution(d.sampleSize, d.popSize, maxT); });
        else
            histogramChart(chart, d.tmrca, "TMRCA (generations)", -1);
        break;
    case PlotKind::MutationEvents:
        histogramChart(chart, d.mutationEvents, "Mutation events",
                       d.constantSize && d.mutationProbability >= 0
                           ? expectedMutationEvents(d.sampleSize, d.popSize, d.mutationProbability)
                           : -1);
        break;
    case PlotKind::WaitingTimes:
        waitingTimeChart(chart, d);
        break;
    case PlotKind::Alleles:
        perLocusChart(chart, d.allelesPerLocus, "Alleles");
        break;
    case PlotKind::GeneDiversity:
        perLocusChart(chart, d.geneDiversityPerLocus, "Gene diversity");
        break;
    }
    return chart;
}

ResultsView::ResultsView(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    cmbPlot_ = new QComboBox(this);
    cmbPlot_->setObjectName("cmbPlot");
    btnSave_ = new QPushButton("Save plot...", this);
    btnSave_->setObjectName("btnSavePlot");
    row->addWidget(cmbPlot_, 1);
    row->addWidget(btnSave_);
    column->addLayout(row);
    view_ = new QChartView(this);
    view_->setObjectName("chtResults");
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumSize(300, 240);
    column->addWidget(view_, 1);
    lblNote_ = new QLabel(this);
    lblNote_->setObjectName("lblResultsNote");
    lblNote_->setWordWrap(true);
    column->addWidget(lblNote_);
    connect(cmbPlot_, &QComboBox::currentIndexChanged, this, &ResultsView::showIndex);
    connect(btnSave_, &QPushButton::clicked, this, &ResultsView::saveClicked);
    clear();
}

void ResultsView::setRun(const RunOutcome& outcome) {
    data_ = plotDataOf(outcome);
    kinds_ = plotsOf(data_);
    QSignalBlocker block(cmbPlot_);
    cmbPlot_->clear();
    for (PlotKind k : kinds_)
        cmbPlot_->addItem(title(k, data_.msats));
    cmbPlot_->setEnabled(!kinds_.empty());
    btnSave_->setEnabled(!kinds_.empty());
    QString note;
    if (!kinds_.empty()) {
        note = QString("%1 genealogies, k = %2, N = %3.")
                   .arg(data_.records)
                   .arg(data_.sampleSize)
                   .arg(data_.popSize);
        note += data_.constantSize ? " Red: the exact expectation for a constant population."
                                   : " A fluctuating size has no expectation drawn.";
    }
    lblNote_->setText(note);
    showIndex(kinds_.empty() ? -1 : 0);
}

void ResultsView::clear() {
    RunOutcome none;
    setRun(none);
    lblNote_->setText("The plots of the last run show here.");
}

bool ResultsView::showPlot(PlotKind kind) {
    const auto it = std::find(kinds_.begin(), kinds_.end(), kind);
    if (it == kinds_.end()) return false;
    cmbPlot_->setCurrentIndex(static_cast<int>(it - kinds_.begin()));
    showIndex(cmbPlot_->currentIndex());
    return true;
}

QChart* ResultsView::chart() const {
    return view_->chart();
}

void ResultsView::showIndex(int index) {
    QChart* old = view_->chart();
    QChart* next = index >= 0 && index < static_cast<int>(kinds_.size())
                       ? makeChart(kinds_[static_cast<size_t>(index)], data_)
                       : new QChart;
    view_->setChart(next);
    delete old;
}

void ResultsView::savePlot(const QString& path) const {
    const PictureFormat format =
        QFileInfo(path).suffix().toLower() == "svg" ? PictureFormat::Svg : PictureFormat::Png;
    const QSize size = view_->size().expandedTo(QSize(640, 480));
    QChartView* view = view_;
    const bool resize = view->size() != size;
    const QSize before = view->size();
    if (resize) view->resize(size);
    savePicture(
        [view, size](QPainter& painter) { view->render(&painter, QRectF(QPoint(0, 0), size)); },
        size, path, format);
    if (resize) view->resize(before);
}

void ResultsView::saveClicked() {
    QString name;
    if (chooser_) {
        name = chooser_();
    } else {
        name =
            QFileDialog::getSaveFileName(this, "Save plot", QString(), "PNG (*.png);;SVG (*.svg)");
    }
    if (name.isEmpty()) return;
    try {
        savePlot(name);
    } catch (const RunError& e) {
        emit saveFailed(QString::fromStdString(e.text()), QString::fromStdString(e.detail()));
    }
}

} // namespace quenlith
