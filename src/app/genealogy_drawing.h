#pragma once
// The drawing of one genealogy as primitives (lines and texts with positions, colours,
// widths and font sizes), computed without any window toolkit so that its geometry can be
// checked exactly. Tips stand on a baseline near the bottom, time runs upwards, every
// coalescence is a horizontal bar with its generation written at the right, mutations are
// short red ticks with their generation at the left, and the TMRCA is written below.
//
// A genealogy of a demographic model is drawn in its demes: every branch in the colour of
// the deme its lineage is in (deme_colours.h), changing colour where the lineage moved to
// another deme, with a small cross there; the tips ordered so that those of one deme stand
// together as far as the tree allows, each group underlined in its colour and named; a
// legend of the demes to the right of the tree, on a picture kLegendWidth wider.
#include "genealogy/branch_demes.h"
#include "genealogy/gene_tree.h"
#include "genealogy/genealogy.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

inline constexpr int32_t kImageWidth = 633;
inline constexpr int32_t kImageHeight = 529;
inline constexpr int32_t kLegendWidth = 120;

// Colours as 0xRRGGBB.
inline constexpr uint32_t kBlack = 0x000000;
inline constexpr uint32_t kBlue = 0x0000FF;
inline constexpr uint32_t kRed = 0xFF0000;

struct DrawLine {
    int32_t x1, y1, x2, y2;
    uint32_t colour;
    int32_t width; // pixels
    bool operator==(const DrawLine&) const = default;
};

// Text placed with its top-left corner at (x, y).
struct DrawText {
    int32_t x, y;
    std::string text;
    uint32_t colour;
    int32_t pointSize;
    bool operator==(const DrawText&) const = default;
};

// Receives the primitives in drawing order.
class DrawingSink {
  public:
    virtual ~DrawingSink() = default;
    virtual void line(const DrawLine& l) = 0;
    virtual void text(const DrawText& t) = 0;
    // The size of the picture, given before its primitives.
    virtual void canvas(int32_t /*width*/, int32_t /*height*/) {}
};

// Keeps every primitive, lines and texts each in drawing order, and the order of the two
// kinds among each other (textAfter[i]: lines drawn before text i) so that it can be replayed.
class Drawing : public DrawingSink {
  public:
    void line(const DrawLine& l) override { lines.push_back(l); }
    void text(const DrawText& t) override {
        texts.push_back(t);
        textAfter.push_back(lines.size());
    }
    void canvas(int32_t w, int32_t h) override {
        width = w;
        height = h;
    }
    // Replays the primitives in their order.
    void replay(DrawingSink& sink) const {
        sink.canvas(width, height);
        size_t l = 0;
        for (size_t t = 0; t < texts.size(); ++t) {
            for (; l < textAfter[t] && l < lines.size(); ++l)
                sink.line(lines[l]);
            sink.text(texts[t]);
        }
        for (; l < lines.size(); ++l)
            sink.line(lines[l]);
    }
    void clear() {
        lines.clear();
        texts.clear();
        textAfter.clear();
        width = kImageWidth;
        height = kImageHeight;
    }
    int32_t width = kImageWidth, height = kImageHeight;
    std::vector<DrawLine> lines;
    std::vector<DrawText> texts;
    std::vector<size_t> textAfter;
};

// What one drawing needs: the genealogy as a tree (its tips in the order of its walk), the
// population size in gene copies (sets the vertical scale; below 1 it is drawn as 1) and
// whether mutations are shown. A model's genealogy also has where its lineages lived and the
// demes' names; it is drawn in its demes when these fit the tree (one deme per node), its
// root at the top. A forest (the part of a damaged genealogy that is one) is drawn as far as
// its merges go.
struct GenealogyPicture {
    GeneTree tree;
    int32_t popSize = 1;
    bool drawMutations = true;
    const BranchDemes* demes = nullptr;
    const std::vector<std::string>* demeNames = nullptr;
};

// Whether the picture is drawn in its demes.
bool drawnInDemes(const GenealogyPicture& picture);

// Height of generation t for population size n: trunc(490 - t * 490 / (3n)).
int32_t generationY(int32_t t, int32_t popSize);

// The vertical scale of one drawing: 3N generations span the 490 pixels above the tips, or,
// when the TMRCA lies above 3N, the root stands at y = 10 so that it and its label show.
struct VerticalScale {
    int32_t popSize = 1;
    int32_t tmrca = 0;
    int32_t y(int32_t t) const;
};

// Labels closer than this (pixels, vertically) overlap; the later one is left out.
inline constexpr int32_t kLabelSpacing = 12;

// Above this many tips the tips stand at fractional spacings (several to a pixel), so that
// the tree keeps its shape.
inline constexpr int32_t kWholePixelTips = 500;

// Emits the drawing of one genealogy. Time labels that would overlap one drawn before them
// (closer than kLabelSpacing) are left out.
void drawGenealogy(const GenealogyPicture& picture, DrawingSink& sink);

// The marks of a genealogy drawn in its demes: a cross of two diagonal lines of this colour
// at every deme change (no other line of the drawing is diagonal).
inline constexpr uint32_t kMoveMarkColour = kBlack;
inline constexpr int32_t kMoveMarkSize = 3; // pixels from the centre
// The x in pixels of every node of a genealogy drawn in its demes (empty when it is not); its
// heights are those of VerticalScale{1, TMRCA}.
std::vector<int32_t> demeColumns(const GenealogyPicture& picture);
// The tips' group lines stand at this height, their names below them.
inline constexpr int32_t kDemeGroupY = 495;

} // namespace quenlith
