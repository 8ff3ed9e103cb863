#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace psd {

// A four-character key as the number the file stores.
constexpr quint32 fourCC(const char (&k)[5])
{
    return quint32(uchar(k[0])) << 24 | quint32(uchar(k[1])) << 16 | quint32(uchar(k[2])) << 8 |
           uchar(k[3]);
}

// One value of a Photoshop action descriptor: the structure that fill, adjustment and
// effect blocks keep their settings in. An object holds keyed values, a list unkeyed ones.
struct DescriptorValue
{
    enum Type { None, Object, List, Double, UnitFloat, Integer, Bool, Text, Enum, Data, Other };

    Type type = None;
    QByteArray id;     // Object: its class; Enum: the value; UnitFloat: the unit ("#Prc")
    double number = 0; // Double, UnitFloat, Integer and Bool
    QString text;      // Text
    QByteArray data;   // Data ('tdta' and 'alis')
    std::vector<QByteArray> keys;          // Object: one key per child
    std::vector<DescriptorValue> children; // Object and List

    // The child of an object under key (four characters or a longer name), or nullptr.
    const DescriptorValue *find(const char *key) const;
    // The number under key, or fallback when there is none or it is not a number.
    double numberOf(const char *key, double fallback = 0) const;
    // The enum value under key, or an empty array.
    QByteArray enumOf(const char *key) const;
    bool isNumber() const
    {
        return type == Double || type == UnitFloat || type == Integer || type == Bool;
    }
};

// Parses a descriptor (class name, class id, items) from bytes. Every count and length is
// checked against the bytes that remain; nesting and the number of values are capped.
// Returns false, with root left empty, when the bytes do not hold a whole descriptor.
bool parseDescriptor(const char *data, qint64 size, DescriptorValue *root,
                     qint64 *consumed = nullptr);

// A block that holds a 32-bit version (16) and then a descriptor, as 'SoCo', 'GdFl',
// 'PtFl', 'vibA', 'blwh' and 'lfx2' (after its own version) do.
bool parseVersionedDescriptor(const QByteArray &block, DescriptorValue *root);

// A colour object ('RGBC', 'Grsc', 'HSBC', 'CMYC', 'LbCl') as an opaque RGB value.
bool descriptorColour(const DescriptorValue &colour, quint32 *rgb);

} // namespace psd
