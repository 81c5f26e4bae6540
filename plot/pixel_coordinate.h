#pragma once

#include <limits>

// Pixel coordinates computed in double precision are kept within +-PIXEL_LIMIT before they
// become ints. gd clips every line to the image, but its clipping subtracts coordinates in
// int arithmetic, so any two coordinates handed to it must differ by less than 2^31. Within
// the limit nothing changes, so a line only looks different from the exact one when an end
// lies more than a billion pixels off the image.
constexpr double PIXEL_LIMIT = 1.0e9;

// Truncates a coordinate toward zero, clamped to +-PIXEL_LIMIT; NaN gives -PIXEL_LIMIT,
// far off the image.
inline int PixelFromDouble(double value) {
    if (value >= PIXEL_LIMIT)
        return static_cast<int>(PIXEL_LIMIT);
    if (value > -PIXEL_LIMIT)
        return static_cast<int>(value);
    return -static_cast<int>(PIXEL_LIMIT);
}
