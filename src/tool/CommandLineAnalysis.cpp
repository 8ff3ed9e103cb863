#include "CommandLineAnalysis.h"

#include "OptionParser.h"
#include "PicsageTool.h"
#include "RunAnalysis.h"
#include "platform/FileNameBytes.h"

QString pathFromCommandLine(const QString &commandLine)
{
    const QStringList pieces = commandLine.split(QLatin1Char('"'));
    for (const QString &piece : pieces) {
        if (!piece.startsWith(QLatin1String("--pathname"))) continue;
        const int eq = piece.indexOf(QLatin1Char('='));
        // Everything after the first "=": a file name may hold "=" itself.
        return eq < 0 ? QString() : piece.mid(eq + 1);
    }
    return QString();
}

int runCommandLine(const QString &commandLine)
{
    // The caller quotes the path so that blanks survive; the parser only needs the options.
    QString line = commandLine;
    line.replace(QLatin1Char('"'), QLatin1Char(' '));

    cmdline::parser options;
    options.add_option<std::string>("method", 0, "Picture analyse method.", true, "");
    options.add_option<std::string>("pathname", 0, "Path to the picture", false, "");
    options.add_flag("auto", 'a', "Auto analysis according to picture type");
    options.add_flag("checkmodel", 0, "Just download the model of the given method");
    if (!options.parse_line(line.toStdString())) return -1;

    const QList<AnalysisMethod> methods = methodsFromNames(
        QString::fromStdString(options.value_of<std::string>("method")).split(QLatin1Char(',')));
    const QString path = pathFromCommandLine(commandLine);
    const bool autoFollowUp = options.is_present("auto");

    if (options.is_present("checkmodel")) {
        bool failed = false;
        {
            PicsageTool tool;
            for (const AnalysisMethod method : methods) {
                tool.setMethod(method);
                failed |= !tool.checkModel();
                tool.saveResult();
            }
        }
        if (failed) return -1;
    }

    if (!platform::fileExists(path)) return -2;
    return runAnalysis(methods, path, autoFollowUp);
}
