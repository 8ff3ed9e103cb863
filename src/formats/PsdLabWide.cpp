#include "PsdLabWide.h"

// The kernels are compiled for instruction sets the rest of the program does not assume, and
// chosen when the processor is asked.
#if defined(__x86_64__) && defined(__GNUC__)
#define PICSAGE_WIDE_LAB 1
#if defined(__clang__)
#define PICSAGE_BEGIN_AVX2                                                                         \
    _Pragma("clang attribute push(__attribute__((target(\"avx2,fma\"))), apply_to = function)")
#define PICSAGE_BEGIN_AVX512                                                                       \
    _Pragma("clang attribute push(__attribute__((target(\"avx512f\"))), apply_to = function)")
#define PICSAGE_END_TARGET _Pragma("clang attribute pop")
#else
#define PICSAGE_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma\")")
#define PICSAGE_BEGIN_AVX512 _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f\")")
#define PICSAGE_END_TARGET _Pragma("GCC pop_options")
// GCC 12 takes the undefined source operand inside the 512-bit intrinsics for an
// uninitialised read once they are inlined.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#endif

namespace psd {

#if defined(PICSAGE_WIDE_LAB)

namespace {

// How far single precision may put a linear component from its double value, with room to
// spare: over all 2^24 colours the largest error lies between 4e-7 (some colours come out
// wrong with that margin) and 5e-7 (none do).
constexpr float kLinearError = 1e-6f;
// fx and fz this close to zero may take the other branch of the cube than in double.
constexpr float kBranchError = 1e-5f;

} // namespace

PICSAGE_BEGIN_AVX2
namespace avx2 {
namespace {

struct V
{
    using F = __m256;
    using I = __m256i;
    using M = __m256;
    static constexpr int N = 8;
    static constexpr unsigned kAllLanes = 0xff;

    static I widen(const uchar *p)
    {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)));
    }
    static I load(const QRgb *p) { return _mm256_loadu_si256(reinterpret_cast<const I *>(p)); }
    static void store(QRgb *p, I v) { _mm256_storeu_si256(reinterpret_cast<I *>(p), v); }
    static F splat(float v) { return _mm256_set1_ps(v); }
    static I splatI(int v) { return _mm256_set1_epi32(v); }
    static F toFloat(I v) { return _mm256_cvtepi32_ps(v); }
    static I truncate(F v) { return _mm256_cvttps_epi32(v); }
    static F add(F a, F b) { return _mm256_add_ps(a, b); }
    static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F fmadd(F a, F b, F c) { return _mm256_fmadd_ps(a, b, c); }
    static F fmsub(F a, F b, F c) { return _mm256_fmsub_ps(a, b, c); }
    static F fnmadd(F a, F b, F c) { return _mm256_fnmadd_ps(a, b, c); }
    static F min(F a, F b) { return _mm256_min_ps(a, b); }
    static F max(F a, F b) { return _mm256_max_ps(a, b); }
    static F sqrt(F v) { return _mm256_sqrt_ps(v); }
    static F floor(F v) { return _mm256_floor_ps(v); }
    static F abs(F v) { return _mm256_and_ps(v, _mm256_castsi256_ps(splatI(0x7fffffff))); }
    static M greater(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static F select(M m, F yes, F no) { return _mm256_blendv_ps(no, yes, m); }
    static unsigned bits(M m) { return unsigned(_mm256_movemask_ps(m)); }
    static I orI(I a, I b) { return _mm256_or_si256(a, b); }
    static I andI(I a, I b) { return _mm256_and_si256(a, b); }
    static I shiftLeft(I v, int n) { return _mm256_slli_epi32(v, n); }
    static bool same(I a, I b) { return _mm256_movemask_epi8(_mm256_cmpeq_epi32(a, b)) == -1; }
};

#include "PsdLabKernel.h"

} // namespace
} // namespace avx2
PICSAGE_END_TARGET

PICSAGE_BEGIN_AVX512
namespace avx512 {
namespace {

struct V
{
    using F = __m512;
    using I = __m512i;
    using M = __mmask16;
    static constexpr int N = 16;
    static constexpr unsigned kAllLanes = 0xffff;

    static I widen(const uchar *p)
    {
        return _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
    }
    static I load(const QRgb *p) { return _mm512_loadu_si512(p); }
    static void store(QRgb *p, I v) { _mm512_storeu_si512(p, v); }
    static F splat(float v) { return _mm512_set1_ps(v); }
    static I splatI(int v) { return _mm512_set1_epi32(v); }
    static F toFloat(I v) { return _mm512_cvtepi32_ps(v); }
    static I truncate(F v) { return _mm512_cvttps_epi32(v); }
    static F add(F a, F b) { return _mm512_add_ps(a, b); }
    static F sub(F a, F b) { return _mm512_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F fmadd(F a, F b, F c) { return _mm512_fmadd_ps(a, b, c); }
    static F fmsub(F a, F b, F c) { return _mm512_fmsub_ps(a, b, c); }
    static F fnmadd(F a, F b, F c) { return _mm512_fnmadd_ps(a, b, c); }
    static F min(F a, F b) { return _mm512_min_ps(a, b); }
    static F max(F a, F b) { return _mm512_max_ps(a, b); }
    static F sqrt(F v) { return _mm512_sqrt_ps(v); }
    static F floor(F v)
    {
        return _mm512_roundscale_ps(v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    static F abs(F v) { return _mm512_abs_ps(v); }
    static M greater(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
    static F select(M m, F yes, F no) { return _mm512_mask_blend_ps(m, no, yes); }
    static unsigned bits(M m) { return m; }
    static I orI(I a, I b) { return _mm512_or_si512(a, b); }
    static I andI(I a, I b) { return _mm512_and_si512(a, b); }
    static I shiftLeft(I v, int n) { return _mm512_slli_epi32(v, unsigned(n)); }
    static bool same(I a, I b) { return _mm512_cmpeq_epi32_mask(a, b) == 0xffff; }
};

#include "PsdLabKernel.h"

} // namespace
} // namespace avx512
PICSAGE_END_TARGET

std::vector<WideLabKernel> wideLabKernels()
{
    std::vector<WideLabKernel> kernels;
    if (__builtin_cpu_supports("avx512f")) kernels.push_back({"avx512", &avx512::convert});
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        kernels.push_back({"avx2", &avx2::convert});
    return kernels;
}

#else

std::vector<WideLabKernel> wideLabKernels()
{
    return {};
}

#endif

} // namespace psd
