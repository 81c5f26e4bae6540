#pragma once

#include <string>

#include "plot/gd_image.h"

// Writes the image as an interlaced GIF (GIF87a, the palette as the global colour table) to
// the output path, mapped onto a host file name, and frees the image. A path ending in
// ".png" (any case) is written as an interlaced (Adam7) palette PNG of the same pixels and
// colours instead, at gd's default compression. Returns 1 when the file
// is written and closed; 0 when the image is null, the file cannot be created (missing
// folder, no permission, a read-only file) or writing it fails: then an earlier file of that
// name is left as it was, and no partly written one. An existing file is replaced whole, as
// AtomicFile replaces it.
int WritePlotImage(GdImage image, const std::string& outputPath);

// Returns true when the output name ends in ".png", in any case: the image is then a PNG.
bool NamesPng(const std::string& outputPath);

// Opens the written output file (path mapped as for writing) in the desktop's viewer and
// returns at once, without waiting for the viewer or looking at its result.
void PreviewPlotImage(const std::string& outputPath);
