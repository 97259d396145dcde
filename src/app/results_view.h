#pragma once
// The Results tab: the run's distributions read from its in-memory tables, each with the
// model's exact expectation where it is known (constant population size): the TMRCA and the
// number of mutation events per genealogy, the mean time spent with each number of lineages,
// and, for microsatellites, the mean number of alleles and gene diversity per locus.
//
// A run of a demographic model shows its TMRCA and, by deme, the pairwise differences within
// each deme (pi), between each pair of demes (d_xy) and F_ST, each with the exact expectation
// where the model has one (two demes of constant sizes with constant migration: the pair
// times of the two-deme chain) and the run's mean otherwise; the one-population
// expectations are not drawn for a model.
#include "run/run_driver.h"

#include <QWidget>
#include <functional>
#include <memory>

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;

namespace quenlith {

enum class PlotKind {
    Tmrca,
    MutationEvents,
    WaitingTimes,
    Alleles,
    GeneDiversity,
    DemeDiversity,
    DemeDivergence,
    DemeFst
};

// What the plots need from a run.
struct PlotData {
    bool msats = false;
    int32_t sampleSize = 0;
    int32_t popSize = 0;
    bool constantSize = true;
    double mutationProbability = -1;
    int32_t records = 0;
    std::vector<int32_t> tmrca;
    std::vector<int32_t> mutationEvents;
    std::vector<int64_t> waitingTimeSum;
    std::vector<double> allelesPerLocus;
    std::vector<double> geneDiversityPerLocus;
    // A demographic model's run (see RunOutcome).
    std::vector<std::string> demeNames; // empty without a model
    std::vector<int32_t> sampleDemes;
    std::vector<double> pi, dxy, fst;
    bool hasTwoDemeChain = false;
    TwoDemeChain twoDemeChain;
    bool model() const { return !demeNames.empty(); }
};
PlotData plotDataOf(const RunOutcome& outcome);

// One statistic of a model's run for one deme or pair: its values over the simulations (NaN
// left out), their mean, and the exact expectation where there is one.
struct DemeSeries {
    std::string label;
    uint32_t colour = 0;
    std::vector<double> values;
    double mean = 0;
    bool hasExact = false;
    double exact = 0;
};
std::vector<DemeSeries> demeSeries(PlotKind kind, const PlotData& data);
// The exact E[TMRCA] of a model's run (two copies under the two-deme chain), or negative.
double exactModelTmrca(const PlotData& data);

// The plots a run has, in the order they are offered.
std::vector<PlotKind> plotsOf(const PlotData& data);

// One plot. Its series are named "observed" and, where the model's value is known,
// "expected"; the plots by deme name theirs "observed:LABEL", "expected:LABEL" and
// "mean:LABEL".
QChart* makeChart(PlotKind kind, const PlotData& data);

class ResultsView : public QWidget {
    Q_OBJECT

  public:
    // Asks for the name to save a plot under; empty when cancelled.
    using SaveNameChooser = std::function<QString()>;

    explicit ResultsView(QWidget* parent = nullptr);

    void setRun(const RunOutcome& outcome);
    void clear();
    // Shows plot `kind` if the run has it.
    bool showPlot(PlotKind kind);
    QChart* chart() const;
    QChartView* chartView() const { return view_; }
    const PlotData& data() const { return data_; }

    void setSaveNameChooser(SaveNameChooser chooser) { chooser_ = std::move(chooser); }
    // Saves the plot on screen as PNG or SVG (by the name's extension); errors are thrown as
    // RunError.
    void savePlot(const QString& path) const;

  signals:
    void saveFailed(const QString& text, const QString& detail);

  private:
    void showIndex(int index);
    void saveClicked();

    PlotData data_;
    std::vector<PlotKind> kinds_;
    QComboBox* cmbPlot_ = nullptr;
    QChartView* view_ = nullptr;
    QPushButton* btnSave_ = nullptr;
    QLabel* lblNote_ = nullptr;
    SaveNameChooser chooser_;
};

} // namespace quenlith
