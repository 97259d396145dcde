#include "app/results_view.h"

#include "app/deme_colours.h"
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
#include <array>
#include <cmath>
#include <functional>
#include <limits>

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
    case PlotKind::DemeDiversity:
        return "Pairwise differences within each deme (pi)";
    case PlotKind::DemeDivergence:
        return "Pairwise differences between demes (d_xy)";
    case PlotKind::DemeFst:
        return "F_ST between demes (Hudson)";
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
                    double expected, const std::function<std::vector<double>(int64_t)>& exact = {},
                    const char* lineName = "expected", const QString& lineLegend = "Expected") {
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
        auto* line = namedLine(lineName, QString("%1: %2").arg(lineLegend).arg(expected, 0, 'f', 1),
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
    if (d.constantSize && !d.model()) {
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

// One histogram per deme or pair in its colour, in the fraction of simulations per bin, each
// with a vertical line at its exact expectation (solid) or at the run's mean (dashed).
void demeChart(QChart* chart, const std::vector<DemeSeries>& series, const QString& xTitle) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const DemeSeries& d : series) {
        for (const double v : d.values) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        const double line = d.hasExact ? d.exact : d.mean;
        lo = std::min(lo, line);
        hi = std::max(hi, line);
    }
    if (!(lo <= hi)) lo = 0, hi = 1;
    if (hi == lo) hi = lo + 1;
    const double width = (hi - lo) / kBins;
    double top = 0;
    std::vector<QLineSeries*> lines;
    for (const DemeSeries& d : series) {
        std::vector<int64_t> counts(kBins, 0);
        for (const double v : d.values)
            ++counts[static_cast<size_t>(
                std::clamp<int64_t>(static_cast<int64_t>((v - lo) / width), 0, kBins - 1))];
        const QString label = QString::fromStdString(d.label);
        const QColor colour(static_cast<QRgb>(d.colour));
        auto* observed = namedLine("", label, colour);
        observed->setObjectName("observed:" + label);
        const double n = static_cast<double>(std::max<size_t>(d.values.size(), 1));
        observed->append(lo, 0);
        for (size_t b = 0; b < counts.size(); ++b) {
            const double f = static_cast<double>(counts[b]) / n;
            observed->append(lo + static_cast<double>(b) * width, f);
            observed->append(lo + static_cast<double>(b + 1) * width, f);
            top = std::max(top, f);
        }
        observed->append(hi, 0);
        chart->addSeries(observed);
        const bool exact = d.hasExact;
        auto* line = namedLine("",
                               QString("%1: %2 %3")
                                   .arg(label, exact ? "exact" : "run's mean")
                                   .arg(exact ? d.exact : d.mean, 0, 'g', 4),
                               colour);
        line->setObjectName((exact ? "expected:" : "mean:") + label);
        QPen pen = line->pen();
        if (!exact) pen.setStyle(Qt::DashLine);
        line->setPen(pen);
        const double at = exact ? d.exact : d.mean;
        line->append(at, 0);
        lines.push_back(line);
        chart->addSeries(line);
        line->setProperty("at", at);
    }
    for (QLineSeries* line : lines)
        line->append(line->property("at").toDouble(), top > 0 ? top * 1.05 : 1);
    auto* x = new QValueAxis;
    x->setTitleText(xTitle);
    x->setRange(lo, hi);
    x->applyNiceNumbers();
    auto* y = new QValueAxis;
    y->setTitleText("Fraction of simulations");
    y->setRange(0, top > 0 ? top * 1.1 : 1);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* a : chart->series()) {
        a->attachAxis(x);
        a->attachAxis(y);
    }
}

} // namespace

double exactModelTmrca(const PlotData& d) {
    if (!d.hasTwoDemeChain || d.sampleDemes.size() != 2) return -1;
    const std::array<double, 3> e = twoDemePairTimes(d.twoDemeChain);
    const int32_t a = d.sampleDemes[0], b = d.sampleDemes[1];
    const double t = e[a != b ? 2 : static_cast<size_t>(a)];
    return std::isfinite(t) ? t : -1;
}

std::vector<DemeSeries> demeSeries(PlotKind kind, const PlotData& d) {
    const auto D = static_cast<int32_t>(d.demeNames.size());
    const int32_t P = demePairCount(D);
    std::vector<DemeSeries> out;
    if (D == 0) return out;
    std::array<double, 3> e{-1, -1, -1};
    if (d.hasTwoDemeChain) e = twoDemePairTimes(d.twoDemeChain);
    const double p = d.mutationProbability;
    const double none = std::numeric_limits<double>::quiet_NaN();
    auto finish = [&](DemeSeries& series, const std::vector<double>& all, size_t stride,
                      size_t column, double exact) {
        for (size_t i = column; i < all.size(); i += stride)
            if (std::isfinite(all[i])) series.values.push_back(all[i]);
        double sum = 0;
        for (const double v : series.values)
            sum += v;
        series.mean = series.values.empty() ? 0 : sum / static_cast<double>(series.values.size());
        series.hasExact = std::isfinite(exact);
        series.exact = series.hasExact ? exact : 0;
        if (!series.values.empty()) out.push_back(std::move(series));
    };
    if (kind == PlotKind::DemeDiversity) {
        for (int32_t x = 0; x < D; ++x) {
            DemeSeries s;
            s.label = d.demeNames[static_cast<size_t>(x)];
            s.colour = demeColour(x);
            const double exact =
                d.hasTwoDemeChain && p >= 0 ? 2 * p * e[static_cast<size_t>(x)] : none;
            finish(s, d.pi, static_cast<size_t>(D), static_cast<size_t>(x), exact);
        }
        return out;
    }
    if (P == 0) return out;
    for (int32_t x = 0; x < D; ++x)
        for (int32_t y = x + 1; y < D; ++y) {
            const int32_t i = demePairIndex(x, y, D);
            DemeSeries s;
            s.label =
                d.demeNames[static_cast<size_t>(x)] + "-" + d.demeNames[static_cast<size_t>(y)];
            s.colour = demeColour(i);
            double exact = none;
            if (d.hasTwoDemeChain && kind == PlotKind::DemeDivergence && p >= 0)
                exact = 2 * p * e[2];
            // The ratio of the expectations, 1 - (E[T_00] + E[T_11]) / 2 / E[T_01].
            if (d.hasTwoDemeChain && kind == PlotKind::DemeFst && p > 0)
                exact = 1 - (e[0] + e[1]) / 2 / e[2];
            finish(s, kind == PlotKind::DemeFst ? d.fst : d.dxy, static_cast<size_t>(P),
                   static_cast<size_t>(i), exact);
        }
    return out;
}

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
    d.demeNames = o.demeNames;
    d.sampleDemes = o.sampleDemes;
    d.pi = o.piPerSim;
    d.dxy = o.dxyPerSim;
    d.fst = o.fstPerSim;
    d.hasTwoDemeChain = o.hasTwoDemeChain;
    d.twoDemeChain = o.twoDemeChain;
    return d;
}

std::vector<PlotKind> plotsOf(const PlotData& d) {
    std::vector<PlotKind> kinds;
    if (d.records <= 0) return kinds;
    kinds = {PlotKind::Tmrca, PlotKind::MutationEvents, PlotKind::WaitingTimes};
    if (d.msats && !d.allelesPerLocus.empty()) kinds.push_back(PlotKind::Alleles);
    if (d.msats && !d.geneDiversityPerLocus.empty()) kinds.push_back(PlotKind::GeneDiversity);
    for (const PlotKind k : {PlotKind::DemeDiversity, PlotKind::DemeDivergence, PlotKind::DemeFst})
        if (d.model() && !demeSeries(k, d).empty()) kinds.push_back(k);
    return kinds;
}

QChart* makeChart(PlotKind kind, const PlotData& d) {
    auto* chart = new QChart;
    chart->setTitle(title(kind, d.msats));
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignBottom);
    switch (kind) {
    case PlotKind::Tmrca:
        if (d.model()) {
            const double exact = exactModelTmrca(d);
            if (exact >= 0)
                histogramChart(chart, d.tmrca, "TMRCA (generations)", exact);
            else
                histogramChart(chart, d.tmrca, "TMRCA (generations)", meanOf(d.tmrca), {}, "mean",
                               "Run's mean");
        } else if (d.constantSize)
            histogramChart(
                chart, d.tmrca, "TMRCA (generations)", expectedTmrca(d.sampleSize, d.popSize),
                [&d](int64_t maxT) { return tmrcaDistribution(d.sampleSize, d.popSize, maxT); });
        else
            histogramChart(chart, d.tmrca, "TMRCA (generations)", -1);
        break;
    case PlotKind::MutationEvents:
        histogramChart(chart, d.mutationEvents, "Mutation events",
                       d.constantSize && !d.model() && d.mutationProbability >= 0
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
    case PlotKind::DemeDiversity:
        demeChart(chart, demeSeries(kind, d), "pi (mutation events between two copies)");
        break;
    case PlotKind::DemeDivergence:
        demeChart(chart, demeSeries(kind, d), "d_xy (mutation events between two copies)");
        break;
    case PlotKind::DemeFst:
        demeChart(chart, demeSeries(kind, d), "F_ST");
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
    if (!kinds_.empty() && data_.model()) {
        QStringList demes;
        for (const std::string& name : data_.demeNames)
            demes << QString::fromStdString(name);
        note = QString("%1 genealogies, k = %2, demes %3. Pairwise differences count the mutation "
                       "events between two copies.")
                   .arg(data_.records)
                   .arg(data_.sampleSize)
                   .arg(demes.join(", "));
        note += data_.hasTwoDemeChain
                    ? " Solid lines: the exact expectations of the two-deme model."
                    : " Dashed lines: the run's means (no exact expectation for this model).";
    } else if (!kinds_.empty()) {
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
