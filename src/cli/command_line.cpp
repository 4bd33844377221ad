#include "cli/command_line.h"

#include "common/configuration.h"

#include <QCommandLineParser>

namespace {

// Qt's own options, taken by QApplication from the same command line; those that carry a value.
const QStringList QtOptionsWithValue{"platform", "platformpluginpath", "platformtheme", "plugin", "style",
                                     "stylesheet", "session", "geometry", "title", "display", "qwindowgeometry",
                                     "qwindowicon", "qwindowtitle", "qmljsdebugger", "name", "visual", "ncols", "cmap",
                                     "fn", "font", "bg", "background", "fg", "foreground", "btn", "button", "im",
                                     "inputstyle", "dialogs"};
const QStringList QtFlags{"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

QString QtName(const QString &argument)
{
    QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    return name.section(QLatin1Char('='), 0, 0);
}

} // namespace

QStringList TCommandLine::WithoutQtOptions(const QStringList &arguments)
{
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (i == 0 || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("--")) {
            rest << argument;
            continue;
        }
        const QString name = QtName(argument);
        if (QtFlags.contains(name))
            continue;
        if (QtOptionsWithValue.contains(name)) {
            if (!argument.contains(QLatin1Char('=')))
                ++i; // its value
            continue;
        }
        rest << argument;
    }
    return rest;
}

TCommandLine TCommandLine::Parse(const QStringList &givenArguments)
{
    TCommandLine line;
    const QStringList arguments = WithoutQtOptions(givenArguments);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Varnex 煤炭安全监控系统联动控制通讯平台 / coal-mine linkage and communication platform.\n"
        "Without a command it runs: with its window, or with --headless as a service.\n\n"
        "Commands (they work while the program itself runs on the same directory):\n"
        "  import FILE          导入: add or update extensions from .xlsx/.xls/.ods/.csv/.txt\n"
        "  export FILE          导出: write every extension to FILE, as .xlsx or as .csv\n"
        "                       (UTF-8, comma separated); FILE without an extension gets\n"
        "                       .xlsx. A FILE that exists is replaced only with --force\n"
        "  check-keys           list extensions without a key on the current keyboard, and keys\n"
        "                       whose number is not in the directory, on standard output; exit\n"
        "                       status 1 when it lists any, 2 when it cannot check\n"
        "  check-config         check the settings file and key.dat as the program reads them:\n"
        "                       unknown names, values that cannot be right, the code page;\n"
        "                       one line each on standard output, exit status 1 when there\n"
        "                       are any, 2 when the settings cannot be read\n"
        "  groups init FROM TO  初始化组: add the call groups FROM to TO (named \"N组\", at most\n"
        "                       10000, numbers 1 to 2147483647) after the directory's groups;\n"
        "                       refused when one of them is there already\n"
        "  migrate --to URL     copy the directory and the history from the files in DATA/\n"
        "                       into an empty PostgreSQL database (refused when it holds rows,\n"
        "                       unless --append); counts are reported, the files stay as they are\n"
        "  migrate --from URL --to-files\n"
        "                       the same back, from the database into the files in DATA/\n"
        "  ctl status           ask the running program (over its control socket) for its\n"
        "                       status: one JSON object on standard output\n"
        "  ctl watch            the same object again with every change of the status (at\n"
        "                       least once a second), one line each, until interrupted or\n"
        "                       the program ends (exit status 1)\n"
        "  ctl check            exit status 1, with one line why, when the running program\n"
        "                       should not hold the service address (main loop stalled,\n"
        "                       platform port not bound, store unreachable for 30 s)\n"
        "  ctl role master|backup|fault [--cause TEXT]\n"
        "                       tell a program of a standby pair which part it plays\n"
        "                       ctl gives up after 1 s: exit 0 ok, 1 failed, 2 bad arguments\n"
        "  web                  serve the web face (status page, /api/status, /api/history,\n"
        "                       /metrics) in a process of its own, at the setting HttpAddress,\n"
        "                       fed by the running program's control socket (--control) and\n"
        "                       reading the directory's store; it never writes anything"));
    const QCommandLineOption help = parser.addHelpOption();
    // Help is printed without a QCoreApplication, which would name the program.
    const auto helpText = [&parser] {
        return parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("varnex"));
    };
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("Run without windows and without a display (a service)."));
    const QCommandLineOption traffic(QStringLiteral("traffic"),
                                     QStringLiteral("Headless: write the traffic lines to standard error too."));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("The folder that holds DATA/ (and key.dat; and Zelvane.conf, when there)."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption label(QStringLiteral("label"),
                                   QStringLiteral("import: the label (标注) stored with the rows it writes, at most 10 "
                                                  "bytes of GBK (5 汉字); default: today's date."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("Where the directory and the history are: postgresql://USER@HOST:PORT/DBNAME "
                                                     "(a password from PGPASSWORD or ~/.pgpass), or empty for the files in "
                                                     "DATA/; instead of the settings file's DatabaseUrl."),
                                      QStringLiteral("URL"));
    const QCommandLineOption migrateTo(QStringLiteral("to"), QStringLiteral("migrate: the database to copy the files into."),
                                       QStringLiteral("URL"));
    const QCommandLineOption migrateFrom(QStringLiteral("from"), QStringLiteral("migrate: the database to copy into the files."),
                                         QStringLiteral("URL"));
    const QCommandLineOption toFiles(QStringLiteral("to-files"), QStringLiteral("migrate --from URL: into the files in DATA/."));
    const QCommandLineOption append(QStringLiteral("append"),
                                    QStringLiteral("migrate: add to a target that holds rows already (the directory's rows after "
                                                   "its own, renumbered, so appending the same source twice holds its extensions "
                                                   "twice; history entries there already are not written twice)."));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Without windows: Qt's and the media system's own messages too."));
    const QCommandLineOption control(QStringLiteral("control"),
                                     QStringLiteral("The control socket: where the program listens, where ctl and web ask "
                                                    "(default: the setting ControlSocket, else the runtime folder's varnex.ctl)."),
                                     QStringLiteral("PATH"));
    const QCommandLineOption cause(QStringLiteral("cause"), QStringLiteral("ctl role: why, as the history records it."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("export: replace FILE when it exists."));
    parser.addOptions({headless, traffic, verbose, dataDir, database, label, force, migrateTo, migrateFrom, toFiles, append,
                       control, cause});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("import, export, check-keys, check-config, groups, migrate, ctl or web"),
                                 QStringLiteral("[command]"));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("the FILE of import or export; init FROM TO of groups"),
                                 QStringLiteral("[arguments...]"));
    const auto fail = [&line, &helpText](const QString &why) {
        line.Say = why + QStringLiteral("\n\n") + helpText();
        line.ExitCode = 2;
        line.Done = true;
        return line;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        line.Say = helpText();
        line.Done = true;
        return line;
    }
    if (parser.isSet(QStringLiteral("help-all"))) {
        line.Say = helpText()
            + QStringLiteral("\nQt's own options are taken too (with the window), for example:\n"
                             "  -platform <name>  the window system (xcb, wayland, offscreen)\n"
                             "  -style <name>     the widget style\n"
                             "  -geometry <geom>  the main window's first size and place (X11)\n"
                             "  -reverse          right-to-left layout\n");
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
    line.Verbose = parser.isSet(verbose);
    line.DataDir = parser.value(dataDir);
    line.DatabaseGiven = parser.isSet(database);
    line.Database = parser.value(database);
    line.Label = parser.value(label);
    line.Force = parser.isSet(force);
    line.Control = parser.value(control);
    line.Cause = parser.value(cause);
    const QStringList rest = parser.positionalArguments();
    line.Command = rest.value(0);
    line.File = rest.value(1);
    if (line.Command.isEmpty())
        return line;
    if (line.Command == QLatin1String("ctl")) {
        // The words are judged by the client, which says what it takes.
        line.CtlWords = rest.mid(1);
        line.File.clear();
        return line;
    }
    if (parser.isSet(cause))
        return fail(QStringLiteral("--cause goes with ctl role"));
    if (line.Command == QLatin1String("web"))
        return rest.size() == 1 ? line : fail(QStringLiteral("web takes no file"));
    if (line.Command == QLatin1String("check-keys"))
        return rest.size() == 1 ? line : fail(QStringLiteral("check-keys takes no file"));
    if (line.Command == QLatin1String("check-config"))
        return rest.size() == 1 ? line : fail(QStringLiteral("check-config takes nothing more"));
    if (line.Command == QLatin1String("groups")) {
        if (rest.value(1) != QLatin1String("init") || rest.size() != 4)
            return fail(QStringLiteral("groups needs: groups init FROM TO"));
        line.File.clear();
        const struct
        {
            const char *Name;
            int *Value;
        } numbers[] = {{"FROM", &line.GroupsFrom}, {"TO", &line.GroupsTo}};
        for (int i = 0; i < 2; ++i)
            if (!ParseDecimalInt(rest[2 + i], numbers[i].Value) || *numbers[i].Value < 1)
                return fail(QStringLiteral("groups init: %1 \"%2\" is not a group number (a whole number from 1 to 2147483647)")
                                .arg(QLatin1String(numbers[i].Name), rest[2 + i]));
        if (line.GroupsFrom > line.GroupsTo)
            return fail(QStringLiteral("groups init: FROM %1 is greater than TO %2").arg(line.GroupsFrom).arg(line.GroupsTo));
        if (qint64(line.GroupsTo) - line.GroupsFrom + 1 > MostGroups)
            return fail(QStringLiteral("groups init: %1 to %2 are %3 groups, more than %4 at once")
                            .arg(QString::number(line.GroupsFrom), QString::number(line.GroupsTo),
                                 QString::number(qint64(line.GroupsTo) - line.GroupsFrom + 1), QString::number(MostGroups)));
        return line;
    }
    if (line.Command == QLatin1String("migrate")) {
        line.MigrateTo = parser.value(migrateTo);
        line.MigrateFrom = parser.value(migrateFrom);
        line.Append = parser.isSet(append);
        if (rest.size() != 1)
            return fail(QStringLiteral("migrate takes no file"));
        const bool up = parser.isSet(migrateTo) && !parser.isSet(migrateFrom) && !parser.isSet(toFiles);
        const bool down = parser.isSet(migrateFrom) && parser.isSet(toFiles) && !parser.isSet(migrateTo);
        if (!up && !down)
            return fail(QStringLiteral("migrate needs either --to URL, or --from URL --to-files"));
        if ((up ? line.MigrateTo : line.MigrateFrom).trimmed().isEmpty())
            return fail(QStringLiteral("migrate: %1 needs a PostgreSQL address (postgresql://user@host:port/dbname)").arg(up ? "--to" : "--from"));
        return line;
    }
    if (line.Command != QLatin1String("import") && line.Command != QLatin1String("export"))
        return fail(QStringLiteral("unknown command: ") + line.Command);
    if (rest.size() != 2)
        return fail(line.Command + QStringLiteral(" needs one FILE"));
    return line;
}
