#pragma once
// Renders the genealogy drawing on a 633 x 529 bitmap with QPainter and writes it as BMP.
#include "app/genealogy_drawing.h"

#include <QFont>
#include <QImage>
#include <string>

class QPainter;

namespace quenlith {

// A new blank (white) bitmap of the image's size.
QImage blankGenealogyImage();

// The labels' font at a size in points.
QFont drawingFont(int pointSize);

// Paints the primitives onto `image` in the order they arrive.
class PainterSink : public DrawingSink {
  public:
    explicit PainterSink(QImage& image);
    // Paints with a painter that is already open (a widget, an SVG or PDF generator), in its
    // current coordinate system.
    explicit PainterSink(QPainter& painter);
    ~PainterSink() override;
    PainterSink(const PainterSink&) = delete;
    PainterSink& operator=(const PainterSink&) = delete;

    void line(const DrawLine& l) override;
    void text(const DrawText& t) override;

  private:
    struct Impl;
    Impl* impl_;
};

// A new bitmap with the genealogy drawn on it.
QImage renderGenealogy(const GenealogyPicture& picture);

// Replays kept primitives in their order, as renderGenealogy() paints them.
void paintDrawing(const Drawing& drawing, QPainter& painter);
// A new bitmap with the kept primitives painted on it.
QImage renderDrawing(const Drawing& drawing);

// Writes the image in BMP format to `path` exactly as given, whatever its extension.
// Throws RunError with the standard text and the path when the file cannot be written.
void writeBmpFile(const QImage& image, const std::string& path);

} // namespace quenlith
