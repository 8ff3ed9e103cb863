#include "platform/FittedDecode.h"

#include <QImageReader>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {

int ceilDiv(int a, int b)
{
    return int((qint64(a) + b - 1) / b);
}

// Each output pixel's share of the input along one direction: output pixel i covers input
// [i * in / out, (i + 1) * in / out), that is the input pixels first[i] to
// first[i] + count[i] - 1, each with the part of it covered (weights at i * stride, summing
// to 1).
struct Spans
{
    std::vector<int> first;
    std::vector<int> count;
    std::vector<float> weights;
    int stride = 0;
};

Spans spans(int in, int out)
{
    Spans result;
    const double step = double(in) / out;
    result.stride = int(std::ceil(step)) + 1;
    result.first.resize(size_t(out));
    result.count.resize(size_t(out));
    result.weights.assign(size_t(out) * size_t(result.stride), 0.0f);
    for (int i = 0; i < out; ++i) {
        const double a = i * step;
        const double b = qMin(double(in), (i + 1) * step);
        const int first = qMin(in - 1, int(std::floor(a)));
        const int last =
            qMin(qMin(in - 1, first + result.stride - 1), qMax(first, int(std::ceil(b)) - 1));
        result.first[size_t(i)] = first;
        result.count[size_t(i)] = last - first + 1;
        float *weights = result.weights.data() + size_t(i) * size_t(result.stride);
        for (int k = first; k <= last; ++k) {
            const double cover = qMin(b, double(k + 1)) - qMax(a, double(k));
            weights[k - first] = float(qMax(0.0, cover) / (b - a));
        }
    }
    return result;
}

// Gives the whole pages of a buffer's unused tail back to the system before the buffer
// shrinks: the allocator may keep the freed tail for later, and then it would stay resident.
void releaseTail(uchar *data, size_t used, size_t size)
{
#ifdef MADV_DONTNEED
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize <= 0 || used >= size) return;
    const quintptr page = quintptr(pageSize);
    const quintptr begin = (quintptr(data) + used + page - 1) & ~(page - 1);
    const quintptr end = (quintptr(data) + size) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_DONTNEED);
#else
    Q_UNUSED(data);
    Q_UNUSED(used);
    Q_UNUSED(size);
#endif
}

} // namespace

bool reduceByAreaAverage(const uchar *in, const QSize &inSize, qsizetype inStride, int inBytes,
                         uchar *out, const QSize &outSize, qsizetype outStride)
{
    if (!in || !out || (inBytes != 4 && inBytes != 1) || inSize.isEmpty() || outSize.isEmpty() ||
        outSize.width() > inSize.width() || outSize.height() > inSize.height())
        return false;
    const int channels = inBytes == 4 ? 3 : 1;
    if (inStride < qsizetype(inSize.width()) * inBytes ||
        outStride < qsizetype(outSize.width()) * channels)
        return false;
    // Writing in place stays behind the reading: output line y + 1 needs input lines from
    // y + 1 on, which start at or after the end of output line y.
    if (in == out && outStride > inStride) return false;

    const Spans columns = spans(inSize.width(), outSize.width());
    const Spans rows = spans(inSize.height(), outSize.height());
    const size_t lineValues = size_t(inSize.width()) * size_t(inBytes);
    std::vector<float> sum(lineValues);
    std::vector<uchar> line(size_t(outSize.width()) * size_t(channels));
    for (int y = 0; y < outSize.height(); ++y) {
        // Down the columns first: the weighted sum of the input lines this line covers,
        // every byte alike (straight loops the compiler vectorises).
        const float *rowWeights = rows.weights.data() + size_t(y) * size_t(rows.stride);
        for (int k = 0; k < rows.count[size_t(y)]; ++k) {
            const uchar *src = in + (rows.first[size_t(y)] + k) * inStride;
            const float w = rowWeights[k];
            float *acc = sum.data();
            if (k == 0) {
                for (size_t i = 0; i < lineValues; ++i)
                    acc[i] = w * src[i];
            } else {
                for (size_t i = 0; i < lineValues; ++i)
                    acc[i] += w * src[i];
            }
        }
        // Then along the line.
        uchar *dst = line.data();
        for (int x = 0; x < outSize.width(); ++x) {
            const float *w = columns.weights.data() + size_t(x) * size_t(columns.stride);
            const float *p = sum.data() + size_t(columns.first[size_t(x)]) * size_t(inBytes);
            const int count = columns.count[size_t(x)];
            if (channels == 3) {
                // 0xffRRGGBB lies in memory as B, G, R, A; the output is R, G, B.
                float b = 0, g = 0, r = 0;
                for (int k = 0; k < count; ++k, p += 4) {
                    b += w[k] * p[0];
                    g += w[k] * p[1];
                    r += w[k] * p[2];
                }
                *dst++ = uchar(qBound(0, int(r + 0.5f), 255));
                *dst++ = uchar(qBound(0, int(g + 0.5f), 255));
                *dst++ = uchar(qBound(0, int(b + 0.5f), 255));
            } else {
                float v = 0;
                for (int k = 0; k < count; ++k)
                    v += w[k] * p[k];
                *dst++ = uchar(qBound(0, int(v + 0.5f), 255));
            }
        }
        std::memcpy(out + y * outStride, line.data(), line.size());
    }
    return true;
}

QSize reducedDecodeSize(const QSize &stored, const QSize &fitted)
{
    // The codec reduces by 1/2, 1/4 or 1/8, rounding up.
    for (int d = 8; d > 1; d /= 2) {
        const QSize reduced(ceilDiv(stored.width(), d), ceilDiv(stored.height(), d));
        if (reduced.width() >= fitted.width() && reduced.height() >= fitted.height())
            return reduced;
    }
    return stored;
}

QImage decodeFitted(QImageReader &reader, const QSize &stored, const QSize &fitted)
{
    if (stored.isEmpty() || fitted.isEmpty()) return {};
    const QImage::Format format = reader.imageFormat();
    const int inBytes = format == QImage::Format_RGB32        ? 4
                        : format == QImage::Format_Grayscale8 ? 1
                                                              : 0;
    if (reader.format() != "jpeg" || inBytes == 0) {
        reader.setScaledSize(fitted);
        return reader.read();
    }

    // The reduced decode goes into memory of our own, so that it can shrink to the result
    // afterwards instead of being copied into a second picture.
    const QSize reduced = reducedDecodeSize(stored, fitted);
    const qsizetype inStride = (qsizetype(reduced.width()) * inBytes + 3) & ~qsizetype(3);
    const size_t inSize = size_t(inStride) * size_t(reduced.height());
    auto *buffer = static_cast<uchar *>(std::malloc(inSize));
    if (!buffer) return {};
    reader.setScaledSize(reduced);
    QImage decoded(buffer, reduced.width(), reduced.height(), inStride, format);
    // The reader fills a picture handed to it when size and format are the ones it makes.
    if (!reader.read(&decoded) || decoded.isNull()) {
        std::free(buffer);
        return {};
    }
    if (decoded.constBits() != buffer) {
        // The reader chose another route (a size of its own rounding): reduce from its
        // picture into a new one, the same way, at the cost of holding both for a moment.
        std::free(buffer);
        const int bytes = decoded.format() == QImage::Format_RGB32        ? 4
                          : decoded.format() == QImage::Format_Grayscale8 ? 1
                                                                          : 0;
        if (bytes == 0 || decoded.width() < fitted.width() || decoded.height() < fitted.height())
            return decoded.size() == fitted
                       ? decoded
                       : decoded.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QImage result(fitted, bytes == 4 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
        if (result.isNull() ||
            !reduceByAreaAverage(decoded.constBits(), decoded.size(), decoded.bytesPerLine(), bytes,
                                 result.bits(), fitted, result.bytesPerLine()))
            return {};
        return result;
    }
    decoded = QImage();

    const int channels = inBytes == 4 ? 3 : 1;
    const qsizetype outStride = (qsizetype(fitted.width()) * channels + 3) & ~qsizetype(3);
    if (!reduceByAreaAverage(buffer, reduced, inStride, inBytes, buffer, fitted, outStride)) {
        std::free(buffer);
        return {};
    }
    const size_t outSize = size_t(outStride) * size_t(fitted.height());
    releaseTail(buffer, outSize, inSize);
    if (void *smaller = std::realloc(buffer, outSize)) buffer = static_cast<uchar *>(smaller);
    return QImage(
        buffer, fitted.width(), fitted.height(), outStride,
        channels == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8,
        [](void *data) { std::free(data); }, buffer);
}

} // namespace platform
