#include "PsdRowConverter.h"

#include "PsdConvert.h"
#include "PsdLabWide.h"
#include "platform/LargePages.h"

#include <QColor>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace psd {

namespace {

// QColor::fromRgbF(v, ...).rgba() for one component in [0, 1]: to 16 bits, rounded, then
// to 8 bits as QColor divides by 257.
inline int unitToByte(double v)
{
    const int wide = qRound(v * 65535);
    return (wide + 0x80 - ((wide + 0x80) >> 8)) >> 8;
}

// Photoshop stores colours of partly transparent pixels blended with white; this undoes it.
inline int removeWhiteMatte(int c, int a)
{
    return quint8((255 * (c + a - 255)) / a);
}

// QColor's CMYK conversion of one component, as InkTable holds it: the stored (inverted) ink
// times the stored black over 255, rounded. The tests compare every pair with QColor.
inline quint32 inkTimesBlack(quint32 ink, quint32 black)
{
    const quint32 t = ink * black + 128;
    return (t + (t >> 8)) >> 8;
}

#if defined(__SSE2__)
// Sixteen 0xAARRGGBB pixels from sixteen samples of each component.
inline void storePixels(__m128i r, __m128i g, __m128i b, __m128i a, QRgb *out)
{
    // In memory a pixel is blue, green, red, alpha.
    const __m128i bgLow = _mm_unpacklo_epi8(b, g), bgHigh = _mm_unpackhi_epi8(b, g);
    const __m128i raLow = _mm_unpacklo_epi8(r, a), raHigh = _mm_unpackhi_epi8(r, a);
    auto *to = reinterpret_cast<__m128i *>(out);
    _mm_storeu_si128(to, _mm_unpacklo_epi16(bgLow, raLow));
    _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(bgLow, raLow));
    _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(bgHigh, raHigh));
    _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(bgHigh, raHigh));
}

inline __m128i load16(const uchar *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// inkTimesBlack for sixteen pairs at once, in 16-bit lanes (t stays below 65536).
inline __m128i inkTimesBlack(__m128i ink, __m128i black)
{
    const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(128);
    auto eight = [&](__m128i i, __m128i k) {
        const __m128i t = _mm_add_epi16(_mm_mullo_epi16(i, k), half);
        return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
    };
    return _mm_packus_epi16(eight(_mm_unpacklo_epi8(ink, zero), _mm_unpacklo_epi8(black, zero)),
                            eight(_mm_unpackhi_epi8(ink, zero), _mm_unpackhi_epi8(black, zero)));
}
#endif

// Pixels whose components are the samples themselves; `a` null for opaque ones.
void interleave(const uchar *r, const uchar *g, const uchar *b, const uchar *a, int width,
                QRgb *out)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i opaque = _mm_set1_epi8(char(0xff));
    for (; x + 16 <= width; x += 16)
        storePixels(load16(r + x), load16(g + x), load16(b + x), a ? load16(a + x) : opaque,
                    out + x);
#endif
    for (; x < width; ++x)
        out[x] = quint32(a ? a[x] : 255) << 24 | quint32(r[x]) << 16 | quint32(g[x]) << 8 | b[x];
}

// CMYK with black (and alpha when `a` is not null) to pixels.
void inkAndBlack(const uchar *const *rows, const uchar *a, int width, QRgb *out)
{
    const uchar *c = rows[0], *m = rows[1], *y = rows[2], *k = rows[3];
    int x = 0;
#if defined(__SSE2__)
    const __m128i opaque = _mm_set1_epi8(char(0xff));
    for (; x + 16 <= width; x += 16) {
        const __m128i black = load16(k + x);
        storePixels(inkTimesBlack(load16(c + x), black), inkTimesBlack(load16(m + x), black),
                    inkTimesBlack(load16(y + x), black), a ? load16(a + x) : opaque, out + x);
    }
#endif
    for (; x < width; ++x)
        out[x] = qRgba(int(inkTimesBlack(c[x], k[x])), int(inkTimesBlack(m[x], k[x])),
                       int(inkTimesBlack(y[x], k[x])), a ? a[x] : 255);
}

// The table of Lab colours met so far has an entry for one in eight 24-bit colours (16 MB):
// a colour's entry is found by its low bits with its high bits folded in.
constexpr int kLabMemoBits = 21;
constexpr size_t kLabMemoEntries = size_t(1) << kLabMemoBits;

// Set in every colour kept in the table, so that an empty entry (zero) matches none.
constexpr quint32 kColourMark = 0x01000000u;

inline size_t labMemoIndex(quint32 colour)
{
    return size_t((colour ^ (colour >> kLabMemoBits)) & (kLabMemoEntries - 1));
}

} // namespace

InkTable::InkTable() : m_value(new uchar[256 * 256])
{
    for (int k = 0; k < 256; ++k)
        for (int ink = 0; ink < 256; ++ink)
            m_value[k * 256 + ink] = uchar(qRed(QColor::fromCmyk(255 - ink, 0, 0, 255 - k).rgba()));
}

LabTable::LabTable()
{
    for (int v = 0; v < 256; ++v) {
        const double l = v / 2.55;
        const double fy = (l + 16) / 116;
        m_fy[v] = fy;
        m_y[v] = l > 0 ? fy * fy * fy : l / 903;
        m_da[v] = (v - 128) / 500.0;
        m_db[v] = (v - 128) / 200.0;
    }
}

QRgb LabTable::operator()(int L, int a, int b, int alpha) const
{
    const auto cubeOrLine = [](double f) {
        const double cube = f * f * f;
        return cube > 0 ? cube : (116 * f - 16) / 903;
    };
    const double fy = m_fy[L];
    const double x = cubeOrLine(fy + m_da[a]) * 0.9642, y = m_y[L];
    const double z = cubeOrLine(fy - m_db[b]) * 0.8249;
    const auto gamma = [](double linear) {
        return std::clamp(std::sqrt(std::max(linear, 0.0)), 0.0, 1.0);
    };
    const double r = gamma(1.9624274 * x - 0.6105343 * y - 0.3413404 * z);
    const double g = gamma(-0.9787684 * x + 1.9161415 * y + 0.033454 * z);
    const double bl = gamma(0.0286869 * x - 0.1406752 * y + 1.3487655 * z);
    return qRgba(unitToByte(r), unitToByte(g), unitToByte(bl), alpha);
}

bool RowConverter::handles(const PsdHeader &h)
{
    return h.depth == 8 && canConvert(h) && h.mode != Bitmap && h.mode != Indexed;
}

int RowConverter::planesOf(const PsdHeader &h)
{
    const int c = h.channels;
    switch (h.mode) {
    case Rgb:
    case Lab:
        return c == 3 ? 3 : 4;
    case Cmyk:
    case Multichannel:
        return c == 1 ? 1 : c == 3 ? 3 : c == 4 ? 4 : 5;
    default: // gray and duotone
        return c == 1 || h.mode == Duotone ? 1 : 2;
    }
}

RowConverter::RowConverter(const PsdHeader &h, qint64 pixels, bool wide) : m_planes(planesOf(h))
{
    switch (h.mode) {
    case Rgb:
        m_kind = m_planes == 3 ? Kind::Rgb : Kind::RgbAlpha;
        break;
    case Cmyk:
    case Multichannel:
        m_kind = m_planes == 1   ? Kind::Cmyk1
                 : m_planes == 3 ? Kind::Cmyk3
                 : m_planes == 4 ? Kind::Cmyk4
                                 : Kind::Cmyk5;
        break;
    case Lab:
        m_kind = m_planes == 3 ? Kind::Lab : Kind::LabAlpha;
        break;
    default:
        m_kind = m_planes == 1 ? Kind::Gray : Kind::GrayAlpha;
        break;
    }
    switch (m_kind) {
    case Kind::RgbAlpha:
        m_matte.reset(new uchar[256 * 256]);
        for (int a = 0; a < 256; ++a)
            for (int v = 0; v < 256; ++v)
                m_matte[a * 256 + v] = uchar(a == 0 ? v : removeWhiteMatte(v, a));
        break;
    case Kind::Lab:
    case Kind::LabAlpha:
        m_lab.reset(new LabTable);
        if (wide) {
            const std::vector<WideLabKernel> kernels = wideLabKernels();
            if (!kernels.empty()) m_wideLab = kernels.front().convert;
        }
        // Huge pages keep the table in few translation entries. It is zeroed (zero is an
        // empty entry) by writing: pages that were first read would be shared zero pages,
        // each replaced on its first write at the cost of a flush on every thread.
        if (!m_wideLab && pixels >= kLabMemoPixels) {
            const size_t bytes = sizeof(quint64) * kLabMemoEntries;
            m_labMemo.reset(static_cast<quint64 *>(std::malloc(bytes)));
            if (m_labMemo) {
                platform::adviseLargePages(m_labMemo.get(), bytes);
                std::memset(m_labMemo.get(), 0, bytes);
            }
        }
        break;
    default:
        break;
    }
}

void RowConverter::lab(const uchar *const *rows, int width, QRgb *out, bool alpha) const
{
    const uchar *L = rows[0], *a = rows[1], *b = rows[2], *t = alpha ? rows[3] : nullptr;
    const LabTable &table = *m_lab;
    if (m_wideLab) {
        m_wideLab(L, a, b, t, width, out, table);
        return;
    }
    quint64 *memo = m_labMemo.get();
    if (!memo) {
        for (int x = 0; x < width; ++x)
            out[x] = table(L[x], a[x], b[x], t ? t[x] : 255);
        return;
    }
    // Rows may be converted on several threads at once: an entry is one aligned word that a
    // thread replaces whole, so relaxed loads and stores are all it needs.
    quint32 colours[16], at[16];
    const auto lookUp = [&](int x0, int i) {
        quint64 *entry = memo + at[i];
        quint64 known = __atomic_load_n(entry, __ATOMIC_RELAXED);
        if (known >> 32 != colours[i]) {
            const int x = x0 + i;
            known = quint64(colours[i]) << 32 | table(L[x], a[x], b[x], 255); // never zero
            __atomic_store_n(entry, known, __ATOMIC_RELAXED);
        }
        return quint32(known);
    };
    for (int x0 = 0; x0 < width; x0 += 16) {
        const int n = qMin(16, width - x0);
        bool flat = false; // sixteen pixels of one colour: one look-up
#if defined(__SSE2__)
        if (n == 16) {
            // A colour is a pixel's bytes with L, a and b in place of red, green and blue, and
            // 1 in place of alpha.
            storePixels(load16(L + x0), load16(a + x0), load16(b + x0), _mm_set1_epi8(1), colours);
            const __m128i mask = _mm_set1_epi32(int(kLabMemoEntries - 1));
            const __m128i first = _mm_set1_epi32(int(colours[0]));
            __m128i same = _mm_set1_epi32(-1);
            for (int i = 0; i < 16; i += 4) {
                const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(colours + i));
                const __m128i index =
                    _mm_and_si128(_mm_xor_si128(c, _mm_srli_epi32(c, kLabMemoBits)), mask);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(at + i), index);
                same = _mm_and_si128(same, _mm_cmpeq_epi32(c, first));
            }
            flat = _mm_movemask_epi8(same) == 0xffff;
        } else
#endif
        {
            for (int i = 0; i < n; ++i) {
                colours[i] =
                    kColourMark | quint32(L[x0 + i]) << 16 | quint32(a[x0 + i]) << 8 | b[x0 + i];
                at[i] = quint32(labMemoIndex(colours[i]));
            }
        }
        if (flat) {
            std::fill(out + x0, out + x0 + n, lookUp(x0, 0));
        } else {
            // The places are known ahead: asking for them all first lets the misses overlap.
            for (int i = 0; i < n; ++i)
                __builtin_prefetch(memo + at[i]);
            for (int i = 0; i < n; ++i)
                out[x0 + i] = lookUp(x0, i);
        }
        if (t) {
            for (int i = 0; i < n; ++i)
                out[x0 + i] = (out[x0 + i] & 0xffffffu) | quint32(t[x0 + i]) << 24;
        }
    }
}

void RowConverter::convert(const uchar *const *rows, int width, QRgb *out) const
{
    const uchar *p0 = rows[0];
    switch (m_kind) {
    case Kind::Gray:
    case Kind::Cmyk1: // one ink without black is its own gray
        interleave(p0, p0, p0, nullptr, width, out);
        return;
    case Kind::GrayAlpha:
        interleave(p0, p0, p0, rows[1], width, out);
        return;
    case Kind::Rgb:
    case Kind::Cmyk3: // inks without black are the colour itself
        interleave(p0, rows[1], rows[2], nullptr, width, out);
        return;
    case Kind::RgbAlpha: {
        const uchar *g = rows[1], *b = rows[2], *alpha = rows[3];
        for (int x = 0; x < width; ++x) {
            const uchar *matte = m_matte.get() + alpha[x] * 256;
            out[x] = qRgba(matte[p0[x]], matte[g[x]], matte[b[x]], alpha[x]);
        }
        return;
    }
    case Kind::Cmyk4:
        inkAndBlack(rows, nullptr, width, out);
        return;
    case Kind::Cmyk5:
        inkAndBlack(rows, rows[4], width, out);
        return;
    case Kind::Lab:
        return lab(rows, width, out, false);
    case Kind::LabAlpha:
        return lab(rows, width, out, true);
    }
}

} // namespace psd
