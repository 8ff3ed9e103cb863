// picsage: starts the command-line analysis tool.
//
//   picsage --pathname=PICTURE --method=pic_category_pc,plainbackdrop_pc [--auto] [--checkmodel]
//
// Every argument is wrapped in double quotes and the arguments are joined with one blank,
// so a path with blanks arrives whole. An argument's bytes arrive exactly, also those that
// are not text in the locale's encoding and double quotes: they travel escaped (see
// platform/FileNameBytes.h). The process ends with the tool's code.

#include "DisplayChoice.h"
#include "platform/FileNameBytes.h"
#include "tool/EntryPoint.h"

#include <QString>

int main(int argc, char **argv)
{
    // The tool shows nothing and must run where there is no display, or none that opens.
    chooseDisplayPlatform(argc, argv);

    QString line;
    for (int i = 1; i < argc; ++i) {
        QString argument = platform::fileNameFromBytes(QByteArray(argv[i]));
        argument.replace(QLatin1Char('"'), platform::escapedByte('"'));
        if (i > 1) line += QLatin1Char(' ');
        line += QLatin1Char('"') + argument + QLatin1Char('"');
    }
    static int count = argc;
    SetEntryPointArguments(&count, argv);
    EntryPoint(nullptr, nullptr, reinterpret_cast<const char16_t *>(line.utf16()), 0);
    return 0; // not reached: the tool ends the process
}
