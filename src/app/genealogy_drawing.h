#pragma once
// The drawing of one genealogy as primitives (lines and texts with positions, colours,
// widths and font sizes), computed without any window toolkit so that its geometry can be
// checked exactly. Tips stand on a baseline near the bottom, time runs upwards, every
// coalescence is a horizontal bar with its generation written at the right, mutations are
// short red ticks with their generation at the left, and the TMRCA is written below.
#include "genealogy/genealogy.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

inline constexpr int32_t kImageWidth = 633;
inline constexpr int32_t kImageHeight = 529;

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
    // Replays the primitives in their order.
    void replay(DrawingSink& sink) const {
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
    }
    std::vector<DrawLine> lines;
    std::vector<DrawText> texts;
    std::vector<size_t> textAfter;
};

// What one drawing needs: the sample size k (tips), the event tables, the population size in
// gene copies (sets the vertical scale; below 1 it is drawn as 1) and whether mutations are
// shown.
struct GenealogyPicture {
    int32_t sampleSize = 0;
    const std::vector<CoalEvent>* coalEvents = nullptr;
    const std::vector<MutEvent>* mutEvents = nullptr;
    int32_t popSize = 1;
    bool drawMutations = true;
};

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

} // namespace quenlith
