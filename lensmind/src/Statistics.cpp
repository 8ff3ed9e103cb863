#include "Statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace lensmind {

namespace {
struct Sample
{
    double r, g, b, luma, sat;
};

Sample readPixel(const unsigned char *p)
{
    const double a = p[3] / 255.0;
    Sample s;
    s.b = p[0] * a + 255.0 * (1 - a);
    s.g = p[1] * a + 255.0 * (1 - a);
    s.r = p[2] * a + 255.0 * (1 - a);
    s.luma = 0.299 * s.r + 0.587 * s.g + 0.114 * s.b;
    const double hi = std::max({s.r, s.g, s.b}), lo = std::min({s.r, s.g, s.b});
    s.sat = hi > 0 ? (hi - lo) / hi : 0;
    return s;
}

struct Accumulator
{
    double n = 0, sum[3] = {0, 0, 0}, sq[3] = {0, 0, 0};
    void add(const Sample &s)
    {
        const double v[3] = {s.r, s.g, s.b};
        n += 1;
        for (int i = 0; i < 3; ++i) {
            sum[i] += v[i];
            sq[i] += v[i] * v[i];
        }
    }
    double mean(int i) const { return n > 0 ? sum[i] / n : 0; }
    double stddev() const
    {
        if (n <= 0) return 0;
        double total = 0;
        for (int i = 0; i < 3; ++i)
            total += std::sqrt(std::max(0.0, sq[i] / n - mean(i) * mean(i)));
        return total / 3;
    }
};
} // namespace

Statistics measure(const unsigned char *pixels, int32_t width, int32_t height,
                   int32_t bytesPerPixel, const Thresholds &t)
{
    Statistics st;
    if (!pixels || width <= 0 || height <= 0 || bytesPerPixel != 4) return st;
    st.width = width;
    st.height = height;

    const int cols = std::min<int>(width, MaxSamplesPerSide);
    const int rows = std::min<int>(height, MaxSamplesPerSide);
    const std::size_t stride = std::size_t(width) * 4;
    std::vector<Sample> grid(std::size_t(cols) * rows);
    for (int y = 0; y < rows; ++y) {
        const int sy = int((long long)y * height / rows);
        const unsigned char *line = pixels + std::size_t(sy) * stride;
        for (int x = 0; x < cols; ++x) {
            const int sx = int((long long)x * width / cols);
            grid[std::size_t(y) * cols + x] = readPixel(line + std::size_t(sx) * 4);
        }
    }

    double luma = 0, sat = 0, paper = 0, ink = 0, edges = 0;
    double rg = 0, yb = 0, rg2 = 0, yb2 = 0;
    Accumulator border, centre;
    // Longest unbroken ink run per sampled row and column: ruled lines run on, text breaks.
    std::vector<int> runRow(rows, 0), bestRow(rows, 0), runCol(cols, 0), bestCol(cols, 0);
    const int bandX = std::max(1, cols / 8), bandY = std::max(1, rows / 8);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            const Sample &s = grid[std::size_t(y) * cols + x];
            luma += s.luma;
            sat += s.sat;
            if (s.luma >= t.whiteLuma && s.sat <= t.paperSat) paper += 1;
            if (s.luma < t.inkLuma) {
                ink += 1;
                bestRow[y] = std::max(bestRow[y], ++runRow[y]);
                bestCol[x] = std::max(bestCol[x], ++runCol[x]);
            } else {
                runRow[y] = runCol[x] = 0;
            }
            if (x + 1 < cols && y + 1 < rows) {
                const double dx = std::fabs(grid[std::size_t(y) * cols + x + 1].luma - s.luma);
                const double dy = std::fabs(grid[std::size_t(y + 1) * cols + x].luma - s.luma);
                if (dx + dy > t.edgeStep) edges += 1;
            }
            const double a = s.r - s.g, b = 0.5 * (s.r + s.g) - s.b;
            rg += a;
            yb += b;
            rg2 += a * a;
            yb2 += b * b;
            const bool inBorder = x < bandX || x >= cols - bandX || y < bandY || y >= rows - bandY;
            (inBorder ? border : centre).add(s);
        }
    }

    const double n = double(cols) * rows;
    st.samples = long(n);
    st.meanLuma = luma / n;
    st.meanSat = sat / n;
    st.paperFraction = paper / n;
    st.inkFraction = ink / n;
    st.edgeDensity = edges / n;
    const double mrg = rg / n, myb = yb / n;
    const double srg = std::sqrt(std::max(0.0, rg2 / n - mrg * mrg));
    const double syb = std::sqrt(std::max(0.0, yb2 / n - myb * myb));
    st.colourfulness = std::sqrt(srg * srg + syb * syb) + 0.3 * std::sqrt(mrg * mrg + myb * myb);

    int ruled = 0;
    for (int run : bestRow)
        ruled += run * 2 > cols;
    for (int run : bestCol)
        ruled += run * 2 > rows;
    st.ruledFraction = double(ruled) / (rows + cols);

    st.borderStd = border.stddev();
    if (centre.n > 0) {
        double d = 0;
        for (int i = 0; i < 3; ++i)
            d += std::fabs(border.mean(i) - centre.mean(i));
        st.borderCentreDistance = d / 3;
    }
    return st;
}

} // namespace lensmind
