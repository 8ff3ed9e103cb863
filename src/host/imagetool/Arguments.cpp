#include "Arguments.h"

#include "ImageTool.h"

namespace imagetool {

Arguments::Arguments(const QString &command, const QVector<Option> &options,
                     const Operands &operands)
    : m_command(command), m_options(options), m_rule(operands)
{
}

Arguments::Option Arguments::output(const QString &needs, const QString &shown, bool required)
{
    return {{QStringLiteral("-o"), QStringLiteral("--output")}, needs, shown, required};
}

const Arguments::Option *Arguments::find(const QString &name) const
{
    for (const Option &option : m_options) {
        if (option.names.contains(name)) return &option;
    }
    return nullptr;
}

int Arguments::read(const QStringList &args)
{
    m_values.clear();
    m_operands.clear();
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            m_operands.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        // --name=value: only long names carry their value in the same word.
        const int equals = arg.startsWith(QLatin1String("--")) ? arg.indexOf(QLatin1Char('=')) : -1;
        const QString name = equals < 0 ? arg : arg.left(equals);
        const Option *option = find(name);
        if (!option) return usageError(m_command, QStringLiteral("unknown option %1").arg(name));
        const QString key = option->names.first();
        if (m_values.contains(key))
            return usageError(m_command, QStringLiteral("%1 is given twice").arg(name));
        if (option->needs.isEmpty()) {
            if (equals >= 0)
                return usageError(m_command, QStringLiteral("%1 takes no value").arg(name));
            m_values.insert(key, QString());
        } else if (equals >= 0) {
            m_values.insert(key, arg.mid(equals + 1));
        } else if (i + 1 < args.size()) {
            m_values.insert(key, args.at(++i));
        } else {
            return usageError(m_command, QStringLiteral("%1 needs %2").arg(name, option->needs));
        }
    }
    for (const Option &option : qAsConst(m_options)) {
        if (option.required && !m_values.contains(option.names.first()))
            return usageError(
                m_command,
                QStringLiteral("no %1 %2 given").arg(option.names.first(), option.shown));
    }
    return checkOperands();
}

int Arguments::checkOperands() const
{
    const int count = m_operands.size();
    const int max = m_rule.max;
    if (count >= m_rule.min && (max < 0 || count <= max)) return -1;
    if (m_rule.min == max)
        return usageError(
            m_command, max == 1 ? QStringLiteral("give exactly one %1").arg(m_rule.name)
                                : QStringLiteral("give exactly %1 %2").arg(max).arg(m_rule.name));
    if (count == 0) return usageError(m_command, QStringLiteral("no %1 given").arg(m_rule.name));
    if (count < m_rule.min)
        return usageError(m_command,
                          QStringLiteral("give at least %1 %2").arg(m_rule.min).arg(m_rule.name));
    return usageError(m_command, QStringLiteral("give at most %1 %2").arg(max).arg(m_rule.name));
}

} // namespace imagetool
