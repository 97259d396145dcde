#pragma once
// The picture of a demographic model as primitives, computed without any window toolkit so
// that its geometry can be checked exactly. Time runs upwards in generations with an axis at
// the left; each deme is a band centred in a column of its own whose width follows its size
// on a log scale (varying along exponential and linear epochs); a line joins every ancestor
// to its descendant at the descendant's start; migrations are arrows from source to
// destination over a shaded span of their interval; pulses are dashed arrows labelled with
// their proportion; a legend names the colour of each deme.
#include "app/deme_colours.h"
#include "demography/demes_model.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

struct ModelPoint {
    double x = 0, y = 0;
    bool operator==(const ModelPoint&) const = default;
};

// Pixel positions of times and widths of sizes.
struct ModelScale {
    double bottom = 0, top = 0; // y of generation 0 and of `tMax`
    double tMax = 1;            // generations at the top; older times are drawn there
    double minSize = 1, maxSize = 1;
    double minWidth = 4, maxWidth = 40;
    // y of generation t (above tMax: the top).
    double y(double t) const;
    // Band width of a size: minWidth at minSize, maxWidth at maxSize, linear in log(size)
    // between them (the middle width for a model of one size).
    double width(double size) const;
};

// One level of a band: at generation t the deme has `size` individuals and spans
// [left, right] at height y.
struct ModelSlice {
    double t = 0, size = 0, y = 0, left = 0, right = 0;
};

struct ModelBand {
    std::string name;
    uint32_t colour = 0;
    double centre = 0;
    std::vector<ModelSlice> slices; // from the deme's end upwards to its start (or the top)
    std::vector<ModelPoint> outline() const; // the left edge upwards, the right edge down
};

struct ModelLine {
    ModelPoint a, b;
    uint32_t colour = 0;
    double width = 1;
    bool dashed = false;
};

// A migration (solid, with the span [top, bottom] of its interval shaded) or a pulse from
// one of its sources (dashed, with its proportion as label).
struct ModelArrow {
    enum class Kind { Migration, Pulse };
    Kind kind = Kind::Migration;
    size_t source = 0, dest = 0; // deme indexes
    ModelPoint from, to;         // the head at `to`
    double start = 0, end = 0;   // generations (start > end; equal for a pulse)
    double top = 0, bottom = 0;  // y of start (clipped to the top) and of end
    uint32_t colour = 0;
    std::string label; // a pulse's proportion
    bool dashed() const { return kind == Kind::Pulse; }
};

struct ModelText {
    ModelPoint at; // the left of the text's baseline, or its right end when rightAligned
    std::string text;
    uint32_t colour = 0;
    int32_t pixelSize = 11;
    bool rightAligned = false;
};

struct ModelLegendEntry {
    std::string name;
    uint32_t colour = 0;
    ModelPoint at; // top-left of its colour square
};

struct ModelDrawing {
    int32_t width = 0, height = 0;
    ModelScale scale;
    std::vector<ModelBand> bands; // in the model's order of demes
    std::vector<ModelLine> lines; // the axis with its ticks and the ancestry joins
    std::vector<ModelArrow> arrows;
    std::vector<ModelText> texts;
    std::vector<ModelLegendEntry> legend;
};

// Pixel size of a legend entry's colour square.
inline constexpr double kLegendSquare = 10;

// Draws `model` in a picture of width x height pixels.
ModelDrawing drawModel(const demes::Model& model, int32_t width, int32_t height);

} // namespace quenlith
