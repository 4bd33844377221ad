#include "cli/command_line.h"
#include "cli/config_command.h"
#include "control/control_client.h"
#include "control/control_server.h"
#include "cli/directory_commands.h"
#include "app/headless_runner.h"
#include "service/install_paths.h"
#include "service/service_log.h"
#include "app/main_form.h"
#include "service/stop_signals.h"
#include "app/varnex_core.h"
#include "cli/web_command.h"
#include "widgets/qt_texts.h"
#include "common/settings_store.h"

#include <QApplication>
#include <QCoreApplication>
#include <QJsonObject>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#ifdef __GLIBC__
#include <malloc.h>
#endif
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

QStringList Arguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

void Say(const QString &text)
{
    std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
}

// Qt would abort without one; the window system is named by the environment or by -platform.
bool HasDisplay(int argc, char *argv[])
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "-platform" || argument == "--platform" || argument.startsWith("-platform=")
            || argument.startsWith("--platform="))
            return true;
    }
    return false;
#else
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return true;
#endif
}

constexpr int MessageWaitMs = 120000;

// The settings' ControlSocket, read as the program reads it.
QString ConfiguredControlSocket(const QString &settingsFile)
{
    TSettingsStore settings(settingsFile);
    settings.Open();
    return settings.Read(QStringLiteral("ControlSocket")).trimmed();
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
#ifdef Q_OS_UNIX
    // Descriptors cost next to nothing and running out of them costs the links: the soft limit
    // (1,024 under systemd unless the unit says more) is raised as far as the hard one allows.
    if (rlimit limit{}; ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = std::max(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 65536));
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
#endif
    const TCommandLine line = TCommandLine::Parse(Arguments(argc, argv));
    if (line.Done) {
        std::fputs(line.Say.toLocal8Bit().constData(), line.ExitCode == 0 ? stdout : stderr);
        return line.ExitCode;
    }
    const bool windows = !line.Headless && line.Command.isEmpty();
    if (windows && !HasDisplay(argc, argv)) {
        std::fputs("varnex: 没有图形显示 (DISPLAY 和 WAYLAND_DISPLAY 都未设置)。作为服务运行请加 --headless。\n"
                   "varnex: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); to run as a service, add --headless.\n",
                   stderr);
        return 1;
    }
    if (!windows)
        TServiceLog::KeepLibraryMessages(line.Verbose);
    // Windows only when the program runs with them; the rest needs no display.
    std::unique_ptr<QCoreApplication> app = windows ? std::make_unique<QApplication>(argc, argv)
                                                    : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Varnex"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEX_VERSION));

    const QString dataDir = TInstallPaths::DataDir(line.DataDir);
    const QString settingsFile = TInstallPaths::SettingsFile(dataDir, !line.DataDir.isEmpty());
    const QString keyFile = TInstallPaths::KeyFile(dataDir);
    if (line.Command == QLatin1String("ctl")) {
        // Told, or the settings' ControlSocket, or where a program listens by default.
        QStringList paths{line.Control};
        if (line.Control.isEmpty()) {
            const QString configured = ConfiguredControlSocket(settingsFile);
            paths = configured.isEmpty() ? TControlServer::ClientPaths() : QStringList{configured};
        }
        // Not told where: only the program of this data folder may answer, never another one
        // that happens to listen where ctl looks first. (The folder as written: the program
        // follows its links itself, which the asker may not be able to.)
        QJsonObject identity;
        if (line.Control.isEmpty() || !line.DataDir.isEmpty())
            identity = {{"data_dir", TControlServer::SamePath(dataDir).value(0)}};
        if (line.CtlWords == QStringList{QStringLiteral("watch")}) {
            QString why;
            const int code = TControlClient::Watch(paths, [](const QByteArray &status) {
                std::fputs((status + '\n').constData(), stdout);
                std::fflush(stdout);
            }, &why, identity);
            Say(QStringLiteral("varnex ctl watch: ") + why);
            return code;
        }
        const TControlClient::TResult said = TControlClient::Run(line.CtlWords, line.Cause, paths, TControlClient::TimeoutMs, identity);
        std::fputs(said.Out.toLocal8Bit().constData(), stdout);
        std::fputs(said.Err.toLocal8Bit().constData(), stderr);
        return said.ExitCode;
    }
    if (line.Command == QLatin1String("check-config"))
        return TConfigCommand::Run(settingsFile, keyFile);
    if (line.Command == QLatin1String("web"))
        return TWebCommand::Run(line, dataDir, settingsFile);
    if (!line.Command.isEmpty())
        return TDirectoryCommands::Run(line, dataDir, settingsFile, keyFile);

    TCoreOptions options;
    options.DataDir = dataDir;
    options.SettingsPath = settingsFile;
    options.KeyFile = keyFile;
    options.DatabaseUrl = line.Database;
    options.DatabaseUrlGiven = line.DatabaseGiven;
    options.SoundDir = TInstallPaths::SoundDir();
    TVarnexCore core(options);
    // Served from the start on, so keepalived can ask and tell as soon as the program runs.
    TControlServer control(core.Status(), core.PairRole());
    control.SetIdentity(dataDir, core.Settings().Path());
    QObject::connect(&control, &TControlServer::Said, &core.LogMemo(),
                     [&core](const QString &said) { core.LogMemo().Add({said, TLogLevel::Warning}); });
    const QString configuredControl = ConfiguredControlSocket(settingsFile);
    const QString controlPath = !line.Control.isEmpty() ? line.Control
        : !configuredControl.isEmpty()                  ? configuredControl
                                                        : TControlServer::DefaultPath();
    QString controlProblem;
    if (control.Listen(controlPath, &controlProblem) == TControlServer::TListen::Taken) {
        // ctl and keepalived would hear that program and take it for this one.
        const QString said = QStringLiteral("控制接口 %1 已被另一个正在运行的程序使用（%2）：本程序不启动。请用 --control 或设置 ControlSocket 给它另一个位置。")
                                 .arg(controlPath, controlProblem);
        // Caught before the line is written: a signal sent on reading it must end the program
        // as it would the window, not kill it while the message box is still being made.
        std::optional<TStopSignals> stopSignals;
        if (windows)
            stopSignals.emplace();
        TServiceLog().Write(TLogLevel::Error, said);
        if (windows) {
            // The operator who started it sees why; a signal ends it as it would the window.
            UseChineseQtTexts();
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Varnex"), said);
            QObject::connect(&*stopSignals, &TStopSignals::StopAsked, &box, &QDialog::reject);
            // Nobody at the screen (a session started by a script): it does not wait for ever.
            QTimer::singleShot(MessageWaitMs, &box, &QDialog::reject);
            box.exec();
        }
        return 1;
    }
    core.SetControlSocket(controlPath, controlProblem);
    // No web face here: `varnex web` serves it from a process of its own, so nothing that
    // faces the network shares this process's descriptors, memory or threads.
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
    // One line for whoever started it from a terminal (run.sh): what it works with.
    Say(QStringLiteral("Varnex 已启动：") + core.StartSummary());
    form.RestorePlace();
    form.show();
    form.ShowStartupErrors(core.StartupErrors());
    core.StartTimers();
    const int rc = QCoreApplication::exec();
    control.Close();
    core.FormDestroy();
    return rc;
}
