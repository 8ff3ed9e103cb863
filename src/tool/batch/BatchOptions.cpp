#include "BatchOptions.h"

#include "tool/BatchAnalysis.h"

namespace {
bool positiveNumber(const QByteArray &text, int limit, int *value)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1 || n > limit) return false;
    *value = n;
    return true;
}
} // namespace

QString batchUsage()
{
    return QStringLiteral(
        "usage: picsage-analyse [--method=M[,M...]] [--auto] [--jobs N] [--timeout S]\n"
        "                       [--output FILE] [--shard K/N] PATH...\n"
        "PATH: a picture, a folder (its pictures, recursively) or - (one path a line on\n"
        "standard input). One JSON line per picture and method.\n");
}

bool BatchOptions::parse(int argc, char **argv, QString *error)
{
    bool onlyPaths = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (onlyPaths || arg == "-" || !arg.startsWith('-')) {
            paths << arg;
            continue;
        }
        if (arg == "--") {
            onlyPaths = true;
            continue;
        }
        QByteArray name = arg, value;
        const int eq = arg.indexOf('=');
        const bool takesValue = arg.startsWith("--method") || arg.startsWith("--jobs") ||
                                arg.startsWith("--timeout") || arg.startsWith("--output") ||
                                arg.startsWith("--shard");
        if (eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
        } else if (takesValue) {
            if (i + 1 >= argc) {
                *error = QStringLiteral("%1 needs a value").arg(QString::fromLocal8Bit(arg));
                return false;
            }
            value = argv[++i];
        }
        if (name == "--method") {
            methods = QString::fromLocal8Bit(value).split(QLatin1Char(','));
            const QStringList known = analysisMethodNames();
            for (const QString &m : qAsConst(methods)) {
                if (!known.contains(m)) {
                    *error = QStringLiteral("unknown method \"%1\"").arg(m);
                    return false;
                }
            }
        } else if (name == "--auto" && eq < 0) {
            autoFollowUp = true;
        } else if (name == "--worker" && eq < 0) {
            worker = true;
        } else if (name == "--jobs") {
            if (!positiveNumber(value, 256, &jobs)) {
                *error = QStringLiteral("--jobs takes a number from 1 to 256");
                return false;
            }
        } else if (name == "--timeout") {
            if (!positiveNumber(value, 86400, &timeoutSeconds)) {
                *error = QStringLiteral("--timeout takes seconds from 1 to 86400");
                return false;
            }
        } else if (name == "--output") {
            if (value.isEmpty()) {
                *error = QStringLiteral("--output needs a file");
                return false;
            }
            output = value;
        } else if (name == "--shard") {
            const QList<QByteArray> parts = value.split('/');
            if (parts.size() != 2 || !positiveNumber(parts.at(1), 1 << 20, &shardCount) ||
                !positiveNumber(parts.at(0), shardCount, &shardIndex)) {
                *error = QStringLiteral("--shard takes K/N with 1 <= K <= N");
                return false;
            }
        } else {
            *error = QStringLiteral("unknown option %1").arg(QString::fromLocal8Bit(arg));
            return false;
        }
    }
    if (!worker && paths.isEmpty()) {
        *error = QStringLiteral("no picture, folder or - given");
        return false;
    }
    return true;
}

QStringList BatchOptions::workerArguments() const
{
    QStringList args{QStringLiteral("--worker"),
                     QStringLiteral("--method=") + methods.join(QLatin1Char(','))};
    if (autoFollowUp) args << QStringLiteral("--auto");
    return args;
}
