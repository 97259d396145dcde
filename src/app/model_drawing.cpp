#include "app/model_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace quenlith {

namespace {

constexpr double kLeft = 70;   // room for the axis labels
constexpr double kRight = 110; // room for the legend
constexpr double kTopMargin = 30;
constexpr double kBottomMargin = 20;
constexpr int kSegments = 16;      // straight pieces of a band edge along a changing size
constexpr double kArrowOffset = 4; // the two directions between a pair of demes apart

// Horizontal places of the demes in columns (0, 1, ...) and the number of columns: a tree
// laid out from the first ancestor of each deme. A deme without children, or one that lives
// on after a child starts, has a column of its own (between the halves of its children);
// one that ends where its children start stands above the middle of them.
std::vector<double> columnPlaces(const demes::Model& m, int& columns) {
    std::map<std::string, size_t> index;
    for (size_t d = 0; d < m.demes.size(); ++d)
        index[m.demes[d].name] = d;
    std::vector<std::vector<size_t>> children(m.demes.size());
    std::vector<size_t> roots;
    for (size_t d = 0; d < m.demes.size(); ++d) {
        const auto& a = m.demes[d].ancestors;
        const auto it = a.empty() ? index.end() : index.find(a.front());
        if (it == index.end() || it->second >= d)
            roots.push_back(d);
        else
            children[it->second].push_back(d);
    }
    std::vector<double> place(m.demes.size(), 0);
    columns = 0;
    auto lay = [&](auto&& self, size_t d) -> void {
        const std::vector<size_t>& c = children[d];
        bool livesOn = false;
        for (size_t k : c)
            livesOn = livesOn || m.demes[k].startTime > m.demes[d].endTime();
        if (c.empty() || livesOn) {
            const size_t before = c.size() / 2;
            for (size_t i = 0; i < before; ++i)
                self(self, c[i]);
            place[d] = columns++;
            for (size_t i = before; i < c.size(); ++i)
                self(self, c[i]);
        } else {
            double sum = 0;
            for (size_t k : c) {
                self(self, k);
                sum += place[k];
            }
            place[d] = sum / static_cast<double>(c.size());
        }
    };
    for (size_t r : roots)
        lay(lay, r);
    return place;
}

// A step of 1, 2 or 5 times a power of ten giving about `ticks` intervals up to `top`.
double tickStep(double top, int ticks) {
    const double raw = top / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double f : {1.0, 2.0, 5.0})
        if (f * power >= raw) return f * power;
    return 10 * power;
}

std::string numberText(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", v);
    return buffer;
}

// Size of deme d at model time t (t within the deme's life; its oldest epoch at its start).
double sizeAt(const demes::Deme& deme, double t) {
    for (size_t i = deme.epochs.size(); i-- > 0;) {
        const double start = deme.epochStartTime(i);
        if (t <= start || i == 0) return demes::epochSizeAt(deme.epochs[i], start, t);
    }
    return 0;
}

} // namespace

double ModelScale::y(double t) const {
    const double clipped = std::clamp(t, 0.0, tMax);
    return bottom - (bottom - top) * clipped / tMax;
}

double ModelScale::width(double size) const {
    if (!(maxSize > minSize)) return (minWidth + maxWidth) / 2;
    const double f = (std::log(size) - std::log(minSize)) / (std::log(maxSize) - std::log(minSize));
    return minWidth + (maxWidth - minWidth) * std::clamp(f, 0.0, 1.0);
}

std::vector<ModelPoint> ModelBand::outline() const {
    std::vector<ModelPoint> points;
    points.reserve(2 * slices.size());
    for (const ModelSlice& s : slices)
        points.push_back({s.left, s.y});
    for (auto it = slices.rbegin(); it != slices.rend(); ++it)
        points.push_back({it->right, it->y});
    return points;
}

ModelDrawing drawModel(const demes::Model& model, int32_t width, int32_t height) {
    ModelDrawing out;
    out.width = width;
    out.height = height;
    const size_t n = model.demes.size();
    const double g = model.generationTime > 0 ? model.generationTime : 1;

    // Time: the oldest finite event, with room above it for the roots.
    double oldest = 0;
    double minSize = 0, maxSize = 0;
    for (const demes::Deme& d : model.demes) {
        if (std::isfinite(d.startTime)) oldest = std::max(oldest, d.startTime / g);
        for (const demes::Epoch& e : d.epochs) {
            oldest = std::max(oldest, e.endTime / g);
            for (double s : {e.startSize, e.endSize}) {
                if (!(s > 0)) continue;
                minSize = minSize > 0 ? std::min(minSize, s) : s;
                maxSize = std::max(maxSize, s);
            }
        }
    }
    for (const demes::Migration& m : model.migrations) {
        if (std::isfinite(m.startTime)) oldest = std::max(oldest, m.startTime / g);
        oldest = std::max(oldest, m.endTime / g);
    }
    for (const demes::Pulse& p : model.pulses)
        oldest = std::max(oldest, p.time / g);
    ModelScale& scale = out.scale;
    scale.tMax = oldest > 0 ? oldest * 1.25 : 100;
    scale.bottom = height - kBottomMargin;
    scale.top = kTopMargin;
    scale.minSize = minSize > 0 ? minSize : 1;
    scale.maxSize = maxSize > 0 ? maxSize : 1;
    int columns = 0;
    const std::vector<double> places = columnPlaces(model, columns);
    const double plotWidth = std::max(10.0, width - kLeft - kRight);
    const double column = plotWidth / std::max(columns, 1);
    scale.maxWidth = std::min(column * 0.7, 90.0);
    scale.minWidth = std::max(2.0, scale.maxWidth * 0.08);

    // Bands.
    out.bands.resize(n);
    for (size_t d = 0; d < n; ++d)
        out.bands[d].centre = kLeft + column * (places[d] + 0.5);
    for (size_t d = 0; d < n; ++d) {
        const demes::Deme& deme = model.demes[d];
        ModelBand& band = out.bands[d];
        band.name = deme.name;
        band.colour = demeColour(static_cast<int32_t>(d));
        auto slice = [&](double tModel, double size) {
            const double t = tModel / g;
            const double w = scale.width(size);
            band.slices.push_back({t, size, scale.y(t), band.centre - w / 2, band.centre + w / 2});
        };
        for (size_t i = deme.epochs.size(); i-- > 0;) {
            const demes::Epoch& e = deme.epochs[i];
            const double start = deme.epochStartTime(i);
            const double top = std::min(start, scale.tMax * g);
            const int pieces = e.sizeFunction == demes::SizeFunction::Constant ? 1 : kSegments;
            for (int k = 0; k <= pieces; ++k) {
                const double t = e.endTime + (top - e.endTime) * k / pieces;
                slice(t, demes::epochSizeAt(e, start, t));
            }
        }
    }

    // The axis: generations ago.
    const double axisX = kLeft - 12;
    out.lines.push_back({{axisX, scale.bottom}, {axisX, scale.top}, 0x000000, 1, false});
    const double step = tickStep(scale.tMax, 6);
    for (double t = 0; t <= scale.tMax * (1 + 1e-12); t += step) {
        const double y = scale.y(t);
        out.lines.push_back({{axisX - 4, y}, {axisX, y}, 0x000000, 1, false});
        out.texts.push_back({{axisX - 6, y + 4}, numberText(t), 0x000000, 10, true});
    }
    out.texts.push_back({{4, scale.top - 12}, "generations ago", 0x000000, 11, false});

    // Where a band's edge facing x is at generation t (its centre when it does not exist).
    auto edge = [&](size_t d, double t, double towards) {
        const demes::Deme& deme = model.demes[d];
        const double c = out.bands[d].centre;
        const double tm = t * g;
        if (tm < deme.endTime() || tm > deme.startTime) return c;
        const double half = scale.width(sizeAt(deme, tm)) / 2;
        return towards >= c ? c + half : c - half;
    };

    // Ancestors joined to their descendants where these start.
    std::map<std::string, size_t> index;
    for (size_t d = 0; d < n; ++d)
        index[model.demes[d].name] = d;
    for (size_t d = 0; d < n; ++d) {
        const demes::Deme& deme = model.demes[d];
        if (!std::isfinite(deme.startTime)) continue;
        const double t = deme.startTime / g;
        const double y = scale.y(t);
        for (const std::string& a : deme.ancestors) {
            const auto it = index.find(a);
            if (it == index.end()) continue;
            out.lines.push_back({{out.bands[it->second].centre, y},
                                 {out.bands[d].centre, y},
                                 demeColour(static_cast<int32_t>(it->second)),
                                 2,
                                 false});
        }
    }

    // Migrations over their interval; the two directions of a pair a little apart.
    for (const demes::Migration& m : model.migrations) {
        const auto s = index.find(m.source), dd = index.find(m.dest);
        if (s == index.end() || dd == index.end()) continue;
        ModelArrow a;
        a.kind = ModelArrow::Kind::Migration;
        a.source = s->second;
        a.dest = dd->second;
        a.start = m.startTime / g;
        a.end = m.endTime / g;
        a.top = scale.y(a.start);
        a.bottom = scale.y(a.end);
        a.colour = demeColour(static_cast<int32_t>(a.source));
        const double cs = out.bands[a.source].centre, cd = out.bands[a.dest].centre;
        const double y = (a.top + a.bottom) / 2 + (cs < cd ? -kArrowOffset : kArrowOffset);
        const double t = (scale.bottom - y) / (scale.bottom - scale.top) * scale.tMax;
        a.from = {edge(a.source, t, cd), y};
        a.to = {edge(a.dest, t, cs), y};
        out.arrows.push_back(a);
    }

    // Pulses: a dashed arrow from each source, with its proportion.
    for (const demes::Pulse& p : model.pulses) {
        const auto dd = index.find(p.dest);
        if (dd == index.end()) continue;
        for (size_t i = 0; i < p.sources.size(); ++i) {
            const auto s = index.find(p.sources[i]);
            if (s == index.end()) continue;
            ModelArrow a;
            a.kind = ModelArrow::Kind::Pulse;
            a.source = s->second;
            a.dest = dd->second;
            a.start = a.end = p.time / g;
            a.top = a.bottom = scale.y(a.start);
            a.colour = demeColour(static_cast<int32_t>(a.source));
            const double cs = out.bands[a.source].centre, cd = out.bands[a.dest].centre;
            const double y = a.top - 8 * static_cast<double>(i);
            a.from = {edge(a.source, a.start, cd), y};
            a.to = {edge(a.dest, a.start, cs), y};
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.3g",
                          i < p.proportions.size() ? p.proportions[i] : 0.0);
            a.label = buffer;
            out.texts.push_back(
                {{(a.from.x + a.to.x) / 2 - 8, y - 3}, a.label, a.colour, 10, false});
            out.arrows.push_back(a);
        }
    }

    // The legend, at the right.
    const double legendX = width - kRight + 12;
    for (size_t d = 0; d < n; ++d) {
        const double y = kTopMargin + 18 * static_cast<double>(d);
        out.legend.push_back(
            {model.demes[d].name, demeColour(static_cast<int32_t>(d)), {legendX, y}});
        out.texts.push_back({{legendX + kLegendSquare + 5, y + kLegendSquare - 1},
                             model.demes[d].name,
                             0x000000,
                             11,
                             false});
    }
    return out;
}

} // namespace quenlith
