#pragma once

// A colour as three integers; components that were not given stay 0. No range check.
struct RgbTriple {
    int red = 0;
    int green = 0;
    int blue = 0;
};
