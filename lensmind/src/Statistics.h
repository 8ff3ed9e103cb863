#pragma once

// Picture statistics the lensmind recognisers decide on. Pixels are 32-bit ARGB rows
// (bytes blue, green, red, alpha), composed over white so transparent areas read as paper.

#include <cstdint>

namespace lensmind {

struct Thresholds
{
    double whiteLuma = 200; // a paper pixel is at least this bright ...
    double paperSat = 0.15; // ... and at most this saturated
    double inkLuma = 96;    // an ink pixel is darker than this
    double edgeStep = 48;   // a luma step that counts as an edge
};

struct Statistics
{
    int width = 0;
    int height = 0;
    long samples = 0;
    double meanLuma = 0;
    double meanSat = 0;
    double paperFraction = 0;
    double inkFraction = 0;
    double edgeDensity = 0;
    double colourfulness = 0;
    // Fraction of sampled rows plus columns crossed by an unbroken ink line longer than half
    // the side: the ruled lines of forms and tables.
    double ruledFraction = 0;
    // The outer band (an eighth of each side) against the rest.
    double borderStd = 0;
    double borderCentreDistance = 0;

    bool empty() const { return samples == 0; }
    double aspect() const { return height > 0 ? double(width) / height : 0; }
};

// At most MaxSamplesPerSide samples are taken along each side, so a large picture costs
// no more than a small one.
constexpr int MaxSamplesPerSide = 512;

Statistics measure(const unsigned char *pixels, int32_t width, int32_t height,
                   int32_t bytesPerPixel, const Thresholds &thresholds);

} // namespace lensmind
