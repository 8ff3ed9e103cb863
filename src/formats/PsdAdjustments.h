#pragma once

#include <QByteArray>

#include <array>
#include <vector>

namespace psd {

// The settings of one adjustment layer, parsed from its block, and their effect on
// colours. Levels, curves, legacy brightness/contrast, hue/saturation, colour balance,
// channel mixer, selective colour, photo filter, gradient map, exposure and posterize keep
// their binary layouts; new brightness/contrast, black & white and vibrance are
// descriptors. Colours are adjusted as 8-bit sRGB values; alpha is left as it is.
class PsdAdjustment
{
public:
    // From the block under key (four characters as a number); invalid when the block is
    // not one we apply or its bytes do not hold the settings.
    static PsdAdjustment fromBlock(quint32 key, const QByteArray &block);

    bool isValid() const { return m_kind != Kind::None; }
    // Adjusts count pixels of four bytes each: red, green, blue, alpha.
    void apply(uchar *pixels, size_t count) const;

private:
    enum class Kind {
        None,
        Table,      // one table per colour channel: invert, levels, curves, brightness...
        Threshold,  // black or white by luminance
        HueSat,     // hue/saturation, colorize
        Balance,    // colour balance
        BlackWhite, // black & white, with an optional tint
        Filter,     // photo filter
        Mixer,      // channel mixer
        Selective,  // selective colour
        GradientMap,
        Vibrance,
    };
    using Table = std::array<uchar, 256>;

    bool parseLevels(const QByteArray &b);
    bool parseCurves(const QByteArray &b);
    bool parseHueSat(const QByteArray &b);
    bool parseBalance(const QByteArray &b);
    bool parseMixer(const QByteArray &b);
    bool parseSelective(const QByteArray &b);
    bool parseFilter(const QByteArray &b);
    bool parseGradientMap(const QByteArray &b);
    bool parseExposure(const QByteArray &b);
    void setTables(const Table &all);

    void applyPixel(uchar *px) const;

    Kind m_kind = Kind::None;
    Table m_tables[3] = {};
    std::array<uchar, 256 * 3> m_ramp = {}; // gradient map: colour per luminance
    std::vector<double> m_values;           // settings of the per-pixel kinds
    bool m_flag = false;                    // colorize, preserve luminosity, monochrome...
    quint32 m_tint = 0;
};

// Luminance of an 8-bit colour as the adjustments weigh it (Rec. 601).
inline double luminance(double r, double g, double b)
{
    return 0.299 * r + 0.587 * g + 0.114 * b;
}

} // namespace psd
