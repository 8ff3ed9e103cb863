#include "PsdDescriptor.h"

#include <QColor>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace psd {

namespace {

constexpr int kMaxDepth = 32;
constexpr int kMaxValues = 200000;
// A string or class name of more characters than this is not a setting we use.
constexpr quint32 kMaxNameChars = 1 << 20;

class DescriptorReader
{
public:
    DescriptorReader(const char *data, qint64 size)
        : m_p(reinterpret_cast<const uchar *>(data)), m_size(size)
    {
    }

    qint64 pos() const { return m_at; }
    bool object(DescriptorValue *v, int depth);

private:
    qint64 left() const { return m_size - m_at; }
    bool need(qint64 n) { return n >= 0 && n <= left(); }
    bool u32(quint32 *v)
    {
        if (!need(4)) return false;
        *v = qFromBigEndian<quint32>(m_p + m_at);
        m_at += 4;
        return true;
    }
    bool bytes(qint64 n, QByteArray *out)
    {
        if (!need(n)) return false;
        *out = QByteArray(reinterpret_cast<const char *>(m_p + m_at), int(n));
        m_at += n;
        return true;
    }
    // A key or class id: a length, or 0 and four characters.
    bool id(QByteArray *out)
    {
        quint32 n = 0;
        if (!u32(&n)) return false;
        return bytes(n == 0 ? 4 : qint64(n), out);
    }
    bool unicode(QString *out)
    {
        quint32 n = 0;
        if (!u32(&n) || n > kMaxNameChars || !need(qint64(n) * 2)) return false;
        out->resize(int(n));
        for (quint32 i = 0; i < n; ++i)
            (*out)[int(i)] = QChar(qFromBigEndian<quint16>(m_p + m_at + 2 * i));
        m_at += qint64(n) * 2;
        while (out->endsWith(QChar(0)))
            out->chop(1);
        return true;
    }
    bool dbl(double *out)
    {
        if (!need(8)) return false;
        const quint64 bits = qFromBigEndian<quint64>(m_p + m_at);
        std::memcpy(out, &bits, 8);
        m_at += 8;
        if (!std::isfinite(*out)) *out = 0; // settings are finite numbers
        return true;
    }
    bool value(quint32 type, DescriptorValue *v, int depth);
    bool counted() { return ++m_values <= kMaxValues; }

    const uchar *m_p;
    qint64 m_size;
    qint64 m_at = 0;
    int m_values = 0;
};

bool DescriptorReader::object(DescriptorValue *v, int depth)
{
    if (depth > kMaxDepth || !counted()) return false;
    QString name;
    quint32 count = 0;
    v->type = DescriptorValue::Object;
    if (!unicode(&name) || !id(&v->id) || !u32(&count)) return false;
    // Each item takes at least a key (8 bytes) and a type (4).
    if (quint64(count) * 12 > quint64(left())) return false;
    v->keys.reserve(count);
    v->children.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        QByteArray key;
        quint32 type = 0;
        if (!id(&key) || !u32(&type)) return false;
        DescriptorValue child;
        if (!value(type, &child, depth + 1)) return false;
        v->keys.push_back(key);
        v->children.push_back(std::move(child));
    }
    return true;
}

bool DescriptorReader::value(quint32 type, DescriptorValue *v, int depth)
{
    if (depth > kMaxDepth || !counted()) return false;
    quint32 n = 0;
    switch (type) {
    case fourCC("Objc"):
    case fourCC("GlbO"):
        return object(v, depth);
    case fourCC("VlLs"): {
        v->type = DescriptorValue::List;
        if (!u32(&n) || quint64(n) * 4 > quint64(left())) return false;
        v->children.reserve(n);
        for (quint32 i = 0; i < n; ++i) {
            quint32 t = 0;
            DescriptorValue child;
            if (!u32(&t) || !value(t, &child, depth + 1)) return false;
            v->children.push_back(std::move(child));
        }
        return true;
    }
    case fourCC("doub"):
        v->type = DescriptorValue::Double;
        return dbl(&v->number);
    case fourCC("UntF"):
        v->type = DescriptorValue::UnitFloat;
        return bytes(4, &v->id) && dbl(&v->number);
    case fourCC("long"):
        v->type = DescriptorValue::Integer;
        if (!u32(&n)) return false;
        v->number = qint32(n);
        return true;
    case fourCC("comp"): {
        quint32 high = 0;
        v->type = DescriptorValue::Integer;
        if (!u32(&high) || !u32(&n)) return false;
        v->number = double(qint64(quint64(high) << 32 | n));
        return true;
    }
    case fourCC("bool"):
        v->type = DescriptorValue::Bool;
        if (!need(1)) return false;
        v->number = m_p[m_at++] != 0;
        return true;
    case fourCC("TEXT"):
        v->type = DescriptorValue::Text;
        return unicode(&v->text);
    case fourCC("enum"): {
        QByteArray enumType;
        v->type = DescriptorValue::Enum;
        return id(&enumType) && id(&v->id);
    }
    case fourCC("type"):
    case fourCC("GlbC"): {
        QString name;
        v->type = DescriptorValue::Other;
        return unicode(&name) && id(&v->id);
    }
    case fourCC("tdta"):
    case fourCC("alis"):
    case fourCC("Pth "):
        v->type = DescriptorValue::Data;
        return u32(&n) && bytes(n, &v->data);
    case fourCC("UnFl"): {
        // Unit, count, then that many doubles: kept as a list of doubles.
        QByteArray unit;
        v->type = DescriptorValue::List;
        if (!bytes(4, &unit) || !u32(&n) || quint64(n) * 8 > quint64(left())) return false;
        for (quint32 i = 0; i < n; ++i) {
            DescriptorValue d;
            d.type = DescriptorValue::UnitFloat;
            d.id = unit;
            if (!counted() || !dbl(&d.number)) return false;
            v->children.push_back(std::move(d));
        }
        return true;
    }
    case fourCC("obj "): {
        // A reference: a count of items, each a form and its data. Kept as Other.
        v->type = DescriptorValue::Other;
        if (!u32(&n) || quint64(n) * 4 > quint64(left())) return false;
        for (quint32 i = 0; i < n; ++i) {
            quint32 form = 0;
            QString name;
            QByteArray classId, key;
            if (!u32(&form) || !counted()) return false;
            switch (form) {
            case fourCC("prop"):
                if (!unicode(&name) || !id(&classId) || !id(&key)) return false;
                break;
            case fourCC("Clss"):
                if (!unicode(&name) || !id(&classId)) return false;
                break;
            case fourCC("Enmr"):
                if (!unicode(&name) || !id(&classId) || !id(&key) || !id(&key)) return false;
                break;
            case fourCC("rele"):
            case fourCC("indx"):
            case fourCC("Idnt"):
                if (!unicode(&name) || !id(&classId) || !u32(&n)) return false;
                break;
            case fourCC("name"):
                if (!unicode(&name) || !id(&classId) || !unicode(&name)) return false;
                break;
            default:
                return false;
            }
        }
        return true;
    }
    default:
        return false; // an unknown type has no known length
    }
}

} // namespace

const DescriptorValue *DescriptorValue::find(const char *key) const
{
    const QByteArray k(key);
    for (size_t i = 0; i < keys.size(); ++i)
        if (keys[i] == k) return &children[i];
    return nullptr;
}

double DescriptorValue::numberOf(const char *key, double fallback) const
{
    const DescriptorValue *v = find(key);
    return v && v->isNumber() ? v->number : fallback;
}

QByteArray DescriptorValue::enumOf(const char *key) const
{
    const DescriptorValue *v = find(key);
    return v && v->type == Enum ? v->id : QByteArray();
}

bool parseDescriptor(const char *data, qint64 size, DescriptorValue *root, qint64 *consumed)
{
    DescriptorReader reader(data, size);
    DescriptorValue v;
    if (!reader.object(&v, 0)) {
        *root = DescriptorValue();
        return false;
    }
    *root = std::move(v);
    if (consumed) *consumed = reader.pos();
    return true;
}

bool parseVersionedDescriptor(const QByteArray &block, DescriptorValue *root)
{
    if (block.size() < 4 || qFromBigEndian<quint32>(block.constData()) != 16) return false;
    return parseDescriptor(block.constData() + 4, block.size() - 4, root);
}

bool descriptorColour(const DescriptorValue &c, quint32 *rgb)
{
    if (c.type != DescriptorValue::Object) return false;
    const auto unit = [](double v) { return qBound(0.0, v, 1.0); };
    QColor colour;
    if (c.find("Rd  ") || c.find("redFloat")) {
        if (c.find("redFloat"))
            colour.setRgbF(unit(c.numberOf("redFloat")), unit(c.numberOf("greenFloat")),
                           unit(c.numberOf("blueFloat")));
        else
            colour.setRgbF(unit(c.numberOf("Rd  ") / 255), unit(c.numberOf("Grn ") / 255),
                           unit(c.numberOf("Bl  ") / 255));
    } else if (c.find("Gry ")) {
        const double g = 1 - unit(c.numberOf("Gry ") / 100); // the amount of black
        colour.setRgbF(g, g, g);
    } else if (c.find("H   ")) {
        double h = std::fmod(c.numberOf("H   "), 360.0);
        if (h < 0) h += 360;
        colour.setHsvF(h / 360, unit(c.numberOf("Strt") / 100), unit(c.numberOf("Brgh") / 100));
    } else if (c.find("Cyn ")) {
        colour.setCmykF(unit(c.numberOf("Cyn ") / 100), unit(c.numberOf("Mgnt") / 100),
                        unit(c.numberOf("Ylw ") / 100), unit(c.numberOf("Blck") / 100));
    } else if (c.find("Lmnc")) {
        // CIE Lab (D50) to sRGB.
        const double l = c.numberOf("Lmnc"), a = c.numberOf("A   "), b = c.numberOf("B   ");
        const double fy = (l + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
        const auto f = [](double t) { return t > 6.0 / 29 ? t * t * t : (t - 16.0 / 116) / 7.787; };
        const double x = 0.9642 * f(fx), y = f(fy), z = 0.8249 * f(fz);
        const double lin[3] = {3.1339 * x - 1.6169 * y - 0.4906 * z,
                               -0.9788 * x + 1.9161 * y + 0.0335 * z,
                               0.0719 * x - 0.2290 * y + 1.4052 * z};
        double out[3];
        for (int i = 0; i < 3; ++i) {
            const double v = unit(lin[i]);
            out[i] = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
        }
        colour.setRgbF(unit(out[0]), unit(out[1]), unit(out[2]));
    } else {
        return false;
    }
    *rgb = colour.rgb();
    return true;
}

} // namespace psd
