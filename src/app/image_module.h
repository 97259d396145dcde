#pragma once
// The interface between quenlith-cli and its image module (quenlith-image.so), the one part
// of the command line that needs Qt's GUI library. The program computes the drawing itself
// and loads the module only for --image, so that a run without an image neither loads nor
// starts Qt. Plain C types, so that nothing but this header has to match on both sides.
#include <cstddef>
#include <cstdint>

extern "C" {

// One primitive of the drawing, in drawing order.
struct QuenlithImageItem {
    int32_t isText;         // 0: a line from (x1, y1) to (x2, y2); 1: a text, top-left at (x1, y1)
    int32_t x1, y1, x2, y2; // x2 and y2: lines only
    uint32_t colour;        // 0xRRGGBB
    int32_t size;           // a line's width in pixels, a text's size in points
    const char* text;       // texts only: NUL-terminated UTF-8
};

// Paints the items, in order, on a blank 633 x 529 image and writes it in BMP format to
// `path`. Returns 0 on success; otherwise non-zero, with a NUL-terminated message of at most
// errorSize bytes in `error`.
typedef int (*QuenlithSaveBmpFunction)(const QuenlithImageItem* items, size_t count,
                                       const char* path, char* error, size_t errorSize);
}

namespace quenlith {

// The module's file name, in the installed library folder or beside the program.
inline constexpr const char* kImageModuleFile = "quenlith-image.so";
// The entry point, a QuenlithSaveBmpFunction. A changed interface gets a new name, so that a
// module of another version is refused instead of called wrongly.
inline constexpr const char* kImageModuleEntry = "quenlith_save_bmp_v1";

} // namespace quenlith
