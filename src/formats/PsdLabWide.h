#pragma once

#include "PsdRowConverter.h"

#include <QRgb>

#include <vector>

namespace psd {

// A wide kernel converts one row of 8-bit Lab samples (and alpha, when `alpha` is not null)
// to 0xAARRGGBB pixels equal to `exact`'s for every pixel, many pixels at a time in single
// precision. A colour too close for single precision to decide where a component's byte
// changes, or which branch the formula takes, is handed to `exact`; so are the last pixels
// of a row that do not fill a vector. Pixels that repeat the vector before them cost no
// arithmetic.
struct WideLabKernel
{
    const char *name; // the instruction set
    LabRowKernel convert;
};

// The kernels this processor runs, fastest first; none where it has no wide instructions
// for them (x86-64 with AVX2 and FMA, or AVX-512).
std::vector<WideLabKernel> wideLabKernels();

} // namespace psd
