#include "app/command_line.h"

#include <QCommandLineParser>

TCommandLine TCommandLine::Parse(const QStringList &arguments)
{
    TCommandLine line;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Varnex 煤炭安全监控系统联动控制通讯平台 / coal-mine linkage and communication platform.\n"
        "Without a command it runs: with its window, or with --headless as a service.\n\n"
        "Commands (they work while the program itself runs on the same directory):\n"
        "  import FILE   导入: add or update extensions from .xlsx/.xls/.ods/.csv/.txt\n"
        "  export FILE   导出: write every extension to FILE (.xlsx)\n"
        "  check-keys    list extensions without a key on the current keyboard, and keys whose\n"
        "                number is not in the directory"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("Run without windows and without a display (a service)."));
    const QCommandLineOption traffic(QStringLiteral("traffic"),
                                     QStringLiteral("Headless: write the traffic lines to standard error too."));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"), QStringLiteral("The folder that holds DATA/."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption label(QStringLiteral("label"), QStringLiteral("import: the label of this import (标注)."),
                                   QStringLiteral("TEXT"));
    parser.addOptions({headless, traffic, dataDir, label});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("import, export or check-keys"),
                                 QStringLiteral("[command]"));
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("the file of import or export"),
                                 QStringLiteral("[FILE]"));
    const auto fail = [&line, &parser](const QString &why) {
        line.Say = why + QStringLiteral("\n\n") + parser.helpText();
        line.ExitCode = 2;
        line.Done = true;
        return line;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        line.Say = parser.helpText();
        line.Done = true;
        return line;
    }
    if (parser.isSet(version)) {
        line.Say = QStringLiteral("varnex %1\n").arg(QStringLiteral(VARNEX_VERSION));
        line.Done = true;
        return line;
    }
    line.Headless = parser.isSet(headless);
    line.Traffic = parser.isSet(traffic);
    line.DataDir = parser.value(dataDir);
    line.Label = parser.value(label);
    const QStringList rest = parser.positionalArguments();
    line.Command = rest.value(0);
    line.File = rest.value(1);
    if (line.Command.isEmpty())
        return line;
    if (line.Command == QLatin1String("check-keys"))
        return rest.size() == 1 ? line : fail(QStringLiteral("check-keys takes no file"));
    if (line.Command != QLatin1String("import") && line.Command != QLatin1String("export"))
        return fail(QStringLiteral("unknown command: ") + line.Command);
    if (rest.size() != 2)
        return fail(line.Command + QStringLiteral(" needs one FILE"));
    return line;
}
