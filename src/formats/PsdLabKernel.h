// The Lab row kernel, written once for every wide instruction set: PsdLabWide.cpp includes
// this file inside a namespace that defines V (the vector of floats and of integers, its
// lane count and its operations), with that instruction set switched on. It is meant to be
// included more than once, so it has no include guard.

// f cubed where positive, else the line the formula takes below zero.
inline V::F cubeOrLine(V::F f)
{
    return V::select(V::greater(f, V::splat(0.0f)), V::mul(V::mul(f, f), f),
                     V::fmsub(f, V::splat(116.0f / 903), V::splat(16.0f / 903)));
}

// A component's byte, as a float, from its linear value; `margin` is lowered to the distance
// from the value to the nearest value where the byte changes. The byte is QColor's: the
// square root clamped to [0, 1], to 16 bits rounded, then divided by 257 rounded, so it
// changes where the root reaches (257 q - 128.5) / 65535.
inline V::F componentByte(V::F linear, V::F &margin)
{
    const V::F v = V::min(V::max(linear, V::splat(0.0f)), V::splat(1.0f));
    const V::F q = V::floor(V::fmadd(V::sqrt(v), V::splat(65535.0f / 257), V::splat(128.5f / 257)));
    const V::F low = V::fmsub(q, V::splat(257.0f / 65535), V::splat(128.5f / 65535));
    const V::F high = V::add(low, V::splat(257.0f / 65535));
    // Byte 0 has no lower boundary: its `low` is negative and so is its signed square.
    // Byte 255 has no upper one: its `high` squared is past 1, where v stops.
    const V::F above = V::sub(v, V::mul(low, V::abs(low)));
    const V::F below = V::fmsub(high, high, v);
    margin = V::min(margin, V::min(above, below));
    return q;
}

// One linear component from the cubes and Y, in the order labToRgba adds them.
inline V::F linear(V::F x3, V::F y, V::F z3, float cx, float cy, float cz)
{
    return V::fmadd(x3, V::splat(cx), V::fmadd(y, V::splat(cy), V::mul(z3, V::splat(cz))));
}

void convert(const uchar *L, const uchar *a, const uchar *b, const uchar *alpha, int width,
             QRgb *out, const LabTable &exact)
{
    const V::I opaque = V::splatI(int(0xff000000u));
    V::I lastColours = V::splatI(-1), lastPixels = V::splatI(0);
    int x = 0;
    for (; x + V::N <= width; x += V::N) {
        const V::I li = V::widen(L + x), ai = V::widen(a + x), bi = V::widen(b + x);
        const V::I opacity = alpha ? V::shiftLeft(V::widen(alpha + x), 24) : opaque;
        const V::I colours = V::orI(V::orI(V::shiftLeft(li, 16), V::shiftLeft(ai, 8)), bi);
        if (V::same(colours, lastColours)) {
            V::store(out + x, V::orI(lastPixels, opacity));
            continue;
        }
        const V::F lf = V::toFloat(li);
        const V::F fy = V::fmadd(lf, V::splat(float(1 / (2.55 * 116))), V::splat(16.0f / 116));
        const V::F fx =
            V::fmadd(V::toFloat(ai), V::splat(1.0f / 500), V::sub(fy, V::splat(128.0f / 500)));
        const V::F fz =
            V::fnmadd(V::toFloat(bi), V::splat(1.0f / 200), V::add(fy, V::splat(128.0f / 200)));
        // Y is zero where L is.
        const V::F y =
            V::select(V::greater(lf, V::splat(0.0f)), V::mul(V::mul(fy, fy), fy), V::splat(0.0f));
        const V::F x3 = cubeOrLine(fx), z3 = cubeOrLine(fz);
        V::F margin = V::splat(1.0f);
        const V::F red = componentByte(
            linear(x3, y, z3, float(1.9624274 * 0.9642), -0.6105343f, float(-0.3413404 * 0.8249)),
            margin);
        const V::F green = componentByte(
            linear(x3, y, z3, float(-0.9787684 * 0.9642), 1.9161415f, float(0.033454 * 0.8249)),
            margin);
        const V::F blue = componentByte(
            linear(x3, y, z3, float(0.0286869 * 0.9642), -0.1406752f, float(1.3487655 * 0.8249)),
            margin);
        const unsigned sure =
            V::bits(V::greater(margin, V::splat(kLinearError))) &
            V::bits(V::greater(V::min(V::abs(fx), V::abs(fz)), V::splat(kBranchError)));
        // Bytes put together stay below 2^24, where a float is exact.
        const V::I pixels =
            V::truncate(V::fmadd(red, V::splat(65536.0f), V::fmadd(green, V::splat(256.0f), blue)));
        V::store(out + x, V::orI(pixels, opacity));
        lastColours = colours;
        lastPixels = pixels;
        if (sure != V::kAllLanes) {
            for (int i = 0; i < V::N; ++i) {
                if (!(sure >> i & 1))
                    out[x + i] = exact(L[x + i], a[x + i], b[x + i], alpha ? alpha[x + i] : 255);
            }
            lastPixels = V::andI(V::load(out + x), V::splatI(0x00ffffff));
        }
    }
    for (; x < width; ++x)
        out[x] = exact(L[x], a[x], b[x], alpha ? alpha[x] : 255);
}
