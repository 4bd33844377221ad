#include "app/command_line.h"
#include "app/directory_commands.h"
#include "app/headless_runner.h"
#include "app/install_paths.h"
#include "app/main_form.h"
#include "app/stop_signals.h"
#include "app/varnex_core.h"
#include "widgets/qt_texts.h"
#include "keyboard/key_table.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <memory>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

QStringList Arguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef __GLIBC__
    // Every reply makes and drops lines of several KB; memory given back to the system after each
    // would be asked for and faulted in again, a spike in the link's answer time.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
#endif
    const TCommandLine line = TCommandLine::Parse(Arguments(argc, argv));
    if (line.Done) {
        std::fputs(line.Say.toLocal8Bit().constData(), line.ExitCode == 0 ? stdout : stderr);
        return line.ExitCode;
    }
    // Windows only when the program runs with them; the rest needs no display.
    std::unique_ptr<QCoreApplication> app = line.Headless || !line.Command.isEmpty()
        ? std::make_unique<QCoreApplication>(argc, argv)
        : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Varnex"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEX_VERSION));

    const QString dataDir = TInstallPaths::DataDir(line.DataDir);
    if (line.Command == QLatin1String("import"))
        return TDirectoryCommands::Import(dataDir, line.File, line.Label);
    if (line.Command == QLatin1String("export"))
        return TDirectoryCommands::Export(dataDir, line.File, line.Force);
    if (line.Command == QLatin1String("check-keys"))
        return TDirectoryCommands::CheckKeys(dataDir, TKeyTable::FileName());
    if (line.Command == QLatin1String("groups"))
        return TDirectoryCommands::InitGroups(dataDir, line.GroupsFrom, line.GroupsTo);

    TCoreOptions options;
    options.DataDir = dataDir;
    options.SoundDir = TInstallPaths::SoundDir();
    TVarnexCore core(options);
    if (line.Headless)
        return THeadlessRunner(core, line.Traffic).Run();

    UseChineseQtTexts();
    TMainForm form(core);
    // A signal stops the program as closing the window does: its place saved, then every
    // event loop (an open dialog's too) left, and the core released below.
    TStopSignals stopSignals;
    QObject::connect(&stopSignals, &TStopSignals::StopAsked, &form, [&form] {
        form.close();
        QCoreApplication::exit(0);
    });
    core.FormCreate();
    form.RestorePlace();
    form.show();
    form.ShowStartupErrors(core.StartupErrors());
    core.StartTimers();
    const int rc = QCoreApplication::exec();
    core.FormDestroy();
    return rc;
}
