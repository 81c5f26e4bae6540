#pragma once

#include <gd.h>

#include <memory>

// Frees a gd image; the owner of a GdImage never calls gdImageDestroy itself.
struct GdImageDeleter {
    void operator()(gdImagePtr image) const { gdImageDestroy(image); }
};

// The one owner of a gd image.
using GdImage = std::unique_ptr<gdImage, GdImageDeleter>;
