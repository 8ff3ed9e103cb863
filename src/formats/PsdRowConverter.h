#pragma once

#include "PsdHeader.h"

#include <QImage>

#include <cstdlib>
#include <memory>

namespace psd {

// QColor's CMYK conversion, looked up rather than computed per pixel: each of red, green
// and blue depends only on its own ink and black, so one table of stored (inverted) ink
// and black gives all three, exactly as QColor::fromCmyk makes them.
class InkTable
{
public:
    InkTable();
    QRgb operator()(int c, int m, int y, int k, int alpha) const
    {
        const uchar *row = m_value.get() + k * 256;
        return qRgba(row[c], row[m], row[y], alpha);
    }

private:
    // Black major, so that the three inks of a pixel share one row of 256 bytes.
    std::unique_ptr<uchar[]> m_value;
};

// labToRgba's arithmetic with the quotients that depend on one sample looked up; a few
// kilobytes, so it costs nothing to make.
class LabTable
{
public:
    LabTable();
    QRgb operator()(int L, int a, int b, int alpha) const;

private:
    double m_fy[256], m_y[256];  // by L
    double m_da[256], m_db[256]; // a and b, centred and divided
};

// A converter of one row of 8-bit Lab samples to pixels (PsdLabWide.h).
using LabRowKernel = void (*)(const uchar *L, const uchar *a, const uchar *b, const uchar *alpha,
                              int width, QRgb *out, const LabTable &exact);

// Turns one row of 8-bit samples, one array per plane, into finished 0xAARRGGBB pixels,
// with the results of the per-pixel conversions bit for bit. Made once per picture: its
// tables cost about as much as a few rows of a large picture.
class RowConverter
{
public:
    // Lab colours are computed many at a time where the processor can (PsdLabWide.h).
    // Elsewhere pictures of at least this many pixels look them up in a table of the colours
    // met so far (16 MB; a colour pushes out another that shares its entry), so that most
    // colours are computed once. Making the table costs about what computing a million
    // colours does.
    static constexpr qint64 kLabMemoPixels = qint64(1) << 20;

    // Whether rows of this document (8 bits, a mode with colours per pixel) convert here.
    static bool handles(const PsdHeader &header);

    // Planes that a row of this document is made from, without making the tables.
    static int planesOf(const PsdHeader &header);

    // `pixels` is the picture's size, which decides whether Lab colours are memorised where
    // the processor has no wide instructions for them; `wide` false leaves those unused
    // (tests compare both ways).
    RowConverter(const PsdHeader &header, qint64 pixels, bool wide = true);

    // Planes that a row is made from: rows[0] to rows[planes() - 1].
    int planes() const { return m_planes; }
    // May be called for different rows on several threads at once.
    void convert(const uchar *const *rows, int width, QRgb *out) const;

private:
    enum class Kind { Gray, GrayAlpha, Rgb, RgbAlpha, Cmyk1, Cmyk3, Cmyk4, Cmyk5, Lab, LabAlpha };
    void lab(const uchar *const *rows, int width, QRgb *out, bool alpha) const;

    Kind m_kind = Kind::Gray;
    int m_planes = 1;
    std::unique_ptr<LabTable> m_lab;
    LabRowKernel m_wideLab = nullptr; // where set, Lab rows go through it
    std::unique_ptr<uchar[]> m_matte; // alpha major: colour without the white matte
    // Colours met so far: the colour in the high word, its pixel in the low word.
    std::unique_ptr<quint64, decltype(&std::free)> m_labMemo{nullptr, &std::free};
};

} // namespace psd
