#pragma once

// The one reader of picsage-image's command lines: every command names its options and
// operands, and gets the same refusals worded the same way.
//
// Options are `--name value` or `--name=value` (long names), `-x value` (short names); a
// switch takes no value; `--` ends the options, and `-` alone is an operand (standard input).

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

namespace imagetool {

class Arguments
{
public:
    struct Option
    {
        Option(const QStringList &names, const QString &needs = QString(),
               const QString &shown = QString(), bool required = false)
            : names(names), needs(needs), shown(shown), required(required)
        {
        }
        QStringList names; // the first is the one value() and has() know, e.g. {"-o", "--output"}
        QString needs;     // what the value is ("a folder", "WxH"); empty for a switch
        QString shown;     // how usage names the value when it is missing ("DIR", "OUT.png")
        bool required;
    };
    struct Operands
    {
        Operands(const QString &name, int min = 1, int max = 1) : name(name), min(min), max(max) {}
        QString name; // "FILE", "DIR"
        int min;
        int max; // -1: no limit
    };

    // -o/--output, whose value is `needs` ("a file", "a folder"), shown as `shown` ("OUT").
    static Option output(const QString &needs, const QString &shown, bool required = true);

    Arguments(const QString &command, const QVector<Option> &options, const Operands &operands);

    // Reads `args`. -1 when the line is good; else the usage message has been printed and
    // the exit code is returned.
    int read(const QStringList &args);

    bool has(const QString &name) const { return m_values.contains(name); }
    QString value(const QString &name) const { return m_values.value(name); }
    const QStringList &operands() const { return m_operands; }
    QString operand() const { return m_operands.value(0); }

private:
    const Option *find(const QString &name) const;
    int checkOperands() const;

    QString m_command;
    QVector<Option> m_options;
    Operands m_rule;
    QMap<QString, QString> m_values; // a switch given maps to an empty value
    QStringList m_operands;
};

} // namespace imagetool
