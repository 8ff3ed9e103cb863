#include "CommandLineAnalysis.h"

#include "OptionParser.h"
#include "PicsageTool.h"
#include "RunAnalysis.h"
#include "platform/FileNameBytes.h"

namespace {
bool onlyBlanks(const QString &text)
{
    for (const QChar c : text)
        if (c != QLatin1Char(' ')) return false;
    return true;
}

// The 8-bit text the option parser reads: the line with every double quote turned into a
// blank, in UTF-8 (Qt's toStdString), except that a byte which travelled escaped (a file
// name's byte that is not UTF-8, a double quote inside an argument) is written as that
// byte, behind a backslash where the tokenizer would otherwise read it as a separator.
// The token echo then shows the bytes the caller gave.
std::string parserText(const QString &commandLine)
{
    QString line = commandLine;
    line.replace(QLatin1Char('"'), QLatin1Char(' '));
    QByteArray text;
    int runStart = 0;
    for (int i = 0; i <= line.size(); ++i) {
        const int escaped = i < line.size() ? platform::escapedByteAt(line, i) : -1;
        if (i < line.size() && escaped < 0) continue;
        text += line.mid(runStart, i - runStart).toUtf8();
        if (escaped == '"' || escaped == ' ' || escaped == '\\') text += '\\';
        if (escaped >= 0) text += char(escaped);
        runStart = i + 1;
    }
    return text.toStdString();
}
} // namespace

CommandLinePath splitPathFromCommandLine(const QString &commandLine)
{
    QStringList pieces = commandLine.split(QLatin1Char('"'));
    for (int i = 0; i < pieces.size(); ++i) {
        const QString piece = pieces.at(i);
        if (!piece.startsWith(QLatin1String("--pathname"))) continue;
        CommandLinePath found;
        const int eq = piece.indexOf(QLatin1Char('='));
        if (eq >= 0) {
            // Everything after the first "=": a file name may hold "=" itself.
            found.path = piece.mid(eq + 1);
            pieces[i].clear();
        } else if (piece == QLatin1String("--pathname") && i + 2 < pieces.size() &&
                   onlyBlanks(pieces.at(i + 1))) {
            found.path = pieces.at(i + 2);
            pieces[i].clear();
            pieces[i + 2].clear();
        } else {
            found.rest = commandLine;
            return found;
        }
        found.rest = pieces.join(QLatin1Char('"'));
        return found;
    }
    return {QString(), commandLine};
}

QString pathFromCommandLine(const QString &commandLine)
{
    return splitPathFromCommandLine(commandLine).path;
}

int runCommandLine(const QString &commandLine)
{
    const CommandLinePath found = splitPathFromCommandLine(commandLine);

    cmdline::parser options;
    options.add_option<std::string>("method", 0, "Picture analyse method.", true, "");
    options.add_option<std::string>("pathname", 0, "Path to the picture", false, "");
    options.add_flag("auto", 'a', "Auto analysis according to picture type");
    options.add_flag("checkmodel", 0, "Just download the model of the given method");
    // The caller quotes the path so that blanks survive, and the path is taken from the
    // line as it stands: the parser reads the line without it, so that nothing in a file
    // name (" -a", " -2", "--method=...") reads as an option. The echo shows every token.
    std::vector<std::string> shown, parsed;
    if (!options.split_line(parserText(commandLine), shown) ||
        !options.split_line(parserText(found.rest), parsed))
        return -1;
    cmdline::parser::echo_tokens(shown);
    if (!options.parse_tokens(parsed)) return -1;

    const QList<AnalysisMethod> methods = methodsFromNames(
        QString::fromStdString(options.value_of<std::string>("method")).split(QLatin1Char(',')));
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

    if (!platform::fileExists(found.path)) return -2;
    return runAnalysis(methods, found.path, autoFollowUp);
}
