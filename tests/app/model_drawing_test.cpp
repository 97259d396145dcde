// Geometry of the model's picture, checked on its primitives against the model's sizes and
// times computed here from the file's own numbers.
#include "app/model_drawing.h"
#include "demography/demes_reader.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>

using namespace quenlith;

namespace {

// A root whose second epoch grows exponentially, a linear deme, a deme that ends before time
// 0, two migrations (one over a given interval) and a pulse from two sources.
const char* kModel = R"(
time_units: years
generation_time: 2
demes:
  - name: A
    epochs:
      - {end_time: 800, start_size: 1000}
      - {end_time: 0, start_size: 1000, end_size: 8000}
  - name: B
    ancestors: [A]
    start_time: 600
    epochs:
      - {end_time: 0, start_size: 200, end_size: 50, size_function: linear}
  - name: C
    ancestors: [A]
    start_time: 1000
    epochs:
      - {end_time: 200, start_size: 5000}
migrations:
  - {source: A, dest: B, rate: 1e-3, start_time: 500, end_time: 100}
  - {source: B, dest: A, rate: 1e-4}
pulses:
  - {sources: [A, C], dest: B, time: 300, proportions: [0.1, 0.25]}
)";

// Sizes by generation (model time / 2), from the model above.
double sizeOf(size_t deme, double t) {
    switch (deme) {
    case 0:
        return t >= 400 ? 1000 : 1000 * std::pow(8.0, (400 - t) / 400);
    case 1:
        return 200 + (50 - 200) * (300 - t) / 300;
    default:
        return 5000;
    }
}

} // namespace

TEST(ModelDrawing, BandsFollowTheSizesOnALogScaleAndTimeUpwards) {
    const ModelDrawing d = drawModel(demes::readModel(kModel), 800, 600);
    const ModelScale& s = d.scale;
    // Sizes 50 to 8000: the extremes at the extreme widths, their geometric mean halfway.
    EXPECT_DOUBLE_EQ(s.width(50), s.minWidth);
    EXPECT_DOUBLE_EQ(s.width(8000), s.maxWidth);
    EXPECT_NEAR(s.width(std::sqrt(50.0 * 8000)), (s.minWidth + s.maxWidth) / 2, 1e-9);
    EXPECT_GT(s.maxWidth, 4 * s.minWidth);
    // The oldest event (C's start, generation 500) with room above it; 0 at the bottom.
    EXPECT_DOUBLE_EQ(s.tMax, 625);
    EXPECT_DOUBLE_EQ(s.y(0), s.bottom);
    EXPECT_DOUBLE_EQ(s.y(625), s.top);
    EXPECT_LT(s.top, s.bottom);

    ASSERT_EQ(d.bands.size(), 3u);
    const double starts[] = {625, 300, 500}, ends[] = {0, 0, 100};
    for (size_t b = 0; b < 3; ++b) {
        const ModelBand& band = d.bands[b];
        ASSERT_FALSE(band.slices.empty());
        EXPECT_DOUBLE_EQ(band.slices.front().t, ends[b]) << b;
        EXPECT_DOUBLE_EQ(band.slices.back().t, starts[b]) << b;
        std::set<double> times;
        for (const ModelSlice& sl : band.slices) {
            EXPECT_NEAR(sl.right - sl.left, s.width(sizeOf(b, sl.t)), 1e-9) << b << " " << sl.t;
            EXPECT_NEAR((sl.left + sl.right) / 2, band.centre, 1e-9);
            EXPECT_DOUBLE_EQ(sl.y, s.y(sl.t));
            times.insert(sl.t);
        }
        EXPECT_EQ(band.outline().size(), 2 * band.slices.size());
        // The changing epochs are drawn through their middles.
        if (b < 2) {
            EXPECT_TRUE(times.count(b == 0 ? 200 : 150)) << "halfway along deme " << b;
        }
    }
    // A growing towards the present is wider at the bottom; B shrinking is narrower.
    EXPECT_GT(d.bands[0].slices.front().right - d.bands[0].slices.front().left,
              d.bands[0].slices.back().right - d.bands[0].slices.back().left);
    // Distinct columns, a colour each.
    EXPECT_NE(d.bands[0].centre, d.bands[1].centre);
    EXPECT_NE(d.bands[1].centre, d.bands[2].centre);
    EXPECT_NE(d.bands[0].colour, d.bands[1].colour);

    // The ancestor joined to each descendant where it starts.
    for (size_t b : {1u, 2u}) {
        const double y = s.y(starts[b]);
        int joins = 0;
        for (const ModelLine& l : d.lines)
            joins += l.a.y == y && l.b.y == y && l.a.x == d.bands[0].centre &&
                     l.b.x == d.bands[b].centre && l.colour == d.bands[0].colour;
        EXPECT_EQ(joins, 1) << b;
    }
}

TEST(ModelDrawing, ArrowsForMigrationsAndPulsesAndALegendEntryPerDeme) {
    const ModelDrawing d = drawModel(demes::readModel(kModel), 800, 600);
    const ModelScale& s = d.scale;
    std::vector<const ModelArrow*> migrations, pulses;
    for (const ModelArrow& a : d.arrows)
        (a.dashed() ? pulses : migrations).push_back(&a);

    // One per migration, source to destination, over its interval in generations (B to A
    // over the whole time both exist).
    ASSERT_EQ(migrations.size(), 2u);
    const struct {
        size_t source, dest;
        double start, end;
    } expected[] = {{0, 1, 250, 50}, {1, 0, 300, 0}};
    for (size_t i = 0; i < 2; ++i) {
        const ModelArrow& a = *migrations[i];
        EXPECT_EQ(a.source, expected[i].source);
        EXPECT_EQ(a.dest, expected[i].dest);
        EXPECT_DOUBLE_EQ(a.start, expected[i].start);
        EXPECT_DOUBLE_EQ(a.end, expected[i].end);
        EXPECT_DOUBLE_EQ(a.top, s.y(a.start));
        EXPECT_DOUBLE_EQ(a.bottom, s.y(a.end));
        EXPECT_EQ(a.from.y, a.to.y);
        EXPECT_GT(a.from.y, a.top);
        EXPECT_LT(a.from.y, a.bottom);
        // Pointing from the source's band to the destination's, from edge to edge.
        const double cs = d.bands[a.source].centre, cd = d.bands[a.dest].centre;
        EXPECT_GT((a.to.x - a.from.x) * (cd - cs), 0) << i;
        EXPECT_GT(std::abs(a.from.x - cs), d.scale.minWidth / 2 - 1e-9);
        EXPECT_EQ(a.colour, d.bands[a.source].colour);
    }
    EXPECT_NE(migrations[0]->from.y, migrations[1]->from.y); // the two directions apart

    // One dashed arrow per source of the pulse, at its time, with its proportion written.
    ASSERT_EQ(pulses.size(), 2u);
    const size_t sources[] = {0, 2};
    const char* labels[] = {"0.1", "0.25"};
    for (size_t i = 0; i < 2; ++i) {
        const ModelArrow& a = *pulses[i];
        EXPECT_EQ(a.source, sources[i]);
        EXPECT_EQ(a.dest, 1u);
        EXPECT_DOUBLE_EQ(a.start, 150);
        EXPECT_EQ(a.label, labels[i]);
        EXPECT_GT((a.to.x - a.from.x) * (d.bands[1].centre - d.bands[a.source].centre), 0);
        int written = 0;
        for (const ModelText& t : d.texts)
            written += t.text == labels[i] && std::abs(t.at.y - a.from.y) < 10;
        EXPECT_EQ(written, 1) << labels[i];
    }

    // The legend: a coloured square per deme, with its name beside it.
    ASSERT_EQ(d.legend.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(d.legend[i].name, d.bands[i].name);
        EXPECT_EQ(d.legend[i].colour, d.bands[i].colour);
        EXPECT_LE(d.legend[i].at.x + kLegendSquare, 800);
        int named = 0;
        for (const ModelText& t : d.texts)
            named += t.text == d.bands[i].name && t.at.x > d.legend[i].at.x &&
                     std::abs(t.at.y - d.legend[i].at.y) < 2 * kLegendSquare;
        EXPECT_EQ(named, 1) << d.bands[i].name;
    }
    // The axis labels its ticks in generations, 0 at the bottom.
    bool zero = false;
    for (const ModelText& t : d.texts)
        zero = zero || (t.text == "0" && t.rightAligned && std::abs(t.at.y - s.bottom) < 6);
    EXPECT_TRUE(zero);
}
