#pragma once
// Saving a picture (the genealogy drawing or a plot) as BMP, PNG, SVG or PDF.
#include "app/genealogy_drawing.h"

#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

class QPainter;

namespace quenlith {

enum class PictureFormat { Bmp, Png, Svg, Pdf };

// The format of a file name chosen in the save dialog: ".png", ".svg", ".pdf" and ".bmp" name
// their format; a name with no extension is BMP; any other extension (".jpg") takes the
// format of the dialog's filter, whose Bitmap and Jpeg choices both write BMP.
PictureFormat pictureFormatFor(const QString& fileName, const QString& selectedFilter = {});

// The dialog's filters, Bitmap first, and the extension each one appends to a bare name
// (none for Bitmap and Jpeg, so that such a name stays as entered).
QStringList pictureFilters();
QString pictureSuffixFor(const QString& filter);

// Writes a picture of `size` pixels painted by `paint` to `path` in `format`. Raster formats
// are painted on a white bitmap; SVG and PDF keep lines and texts as vectors. Throws RunError
// with the standard text and the path when the file cannot be written.
void savePicture(const std::function<void(QPainter&)>& paint, QSize size, const QString& path,
                 PictureFormat format);

// The genealogy drawing at its size (633 x 529, wider with a legend).
void saveDrawing(const Drawing& drawing, const QString& path, PictureFormat format);

} // namespace quenlith
