#include "support/test_support.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

// `varnex ctl` as keepalived's scripts run it: against a headless program of the pair, with
// no display, giving up quickly on a program that does not answer.
class TstControl : public QObject
{
    Q_OBJECT
    QTemporaryDir Dir;

    QProcessEnvironment Environment() const { return TestSupport::ProgramEnvironment(Dir); }
    struct TRun
    {
        int ExitCode = -1;
        QString Out;
        QString Err;
        bool Finished = false;
    };
    TRun Ctl(const QStringList &arguments, int waitMs = 3000)
    {
        QProcess ctl;
        ctl.setProcessEnvironment(Environment());
        ctl.start(TestSupport::BuildPath(QStringLiteral("varnex")), QStringList{QStringLiteral("ctl")} + arguments);
        TRun run;
        run.Finished = ctl.waitForFinished(waitMs);
        if (!run.Finished)
            ctl.kill();
        ctl.waitForFinished();
        run.ExitCode = ctl.exitCode();
        run.Out = QString::fromUtf8(ctl.readAllStandardOutput());
        run.Err = QString::fromUtf8(ctl.readAllStandardError());
        return run;
    }
    // A headless program of a pair in a folder of its own, listening at its folder's varnex.ctl.
    bool StartProgram(QProcess &program, const QString &folder, const QString &socket)
    {
        WriteSettings(folder);
        program.setProcessEnvironment(Environment());
        program.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                      {QStringLiteral("--headless"), QStringLiteral("--data-dir"), folder, QStringLiteral("--control"), socket});
        return QTest::qWaitFor([&] { return Ctl({QStringLiteral("check"), QStringLiteral("--control"), socket}, 2000).ExitCode == 0; },
                               15000);
    }
    bool WriteSettings(const QString &folder, const QString &role = QStringLiteral("pair"))
    {
        const QList<int> ports = TestSupport::FreeUdpPorts(4);
        QDir().mkpath(folder);
        QFile settings(QDir(folder).filePath(QStringLiteral("Zelvane.conf")));
        if (!settings.open(QIODevice::WriteOnly))
            return false;
        settings.write(QStringList{QStringLiteral("Role=") + role, QStringLiteral("CommIpAddress=127.0.0.1"),
                                   QStringLiteral("CommIpPort=%1").arg(ports[0]), QStringLiteral("CommRecIpPort=%1").arg(ports[1]),
                                   QStringLiteral("RecIpPort=%1").arg(ports[2]), QStringLiteral("IpAddress=127.0.0.1"),
                                   QStringLiteral("IpPort=%1").arg(ports[3]), QStringLiteral("HttpAddress=")}
                           .join(QLatin1Char('\n'))
                           .toUtf8());
        settings.close();
        return true;
    }
    static void Stop(QProcess &program)
    {
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(Dir.isValid()); }

    // What ctl refuses before it asks anyone (2), and a socket where no program answers (1).
    void arguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::newRow("nothing") << QStringList{} << 2 << "a command is needed";
        QTest::newRow("unknown") << QStringList{"start"} << 2 << "unknown command: start";
        QTest::newRow("role without one") << QStringList{"role"} << 2 << "role needs one of master, backup, fault";
        QTest::newRow("role single") << QStringList{"role", "single"} << 2 << "role needs one of master, backup, fault";
        QTest::newRow("status with more") << QStringList{"status", "now"} << 2 << "status takes nothing more";
        QTest::newRow("nobody there") << QStringList{"check", "--control", "/nonexistent/varnex.ctl"} << 1 << "no program answers at /nonexistent/varnex.ctl (no socket there)";
    }
    void arguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        const TRun run = Ctl(arguments);
        QVERIFY(run.Finished);
        QCOMPARE(run.ExitCode, exitCode);
        QVERIFY2(run.Err.contains(said), qPrintable(run.Err));
        QCOMPARE(run.Out, QString());
    }

    // Told master and then backup with a cause, the program says its role on standard error,
    // one line per change, and its status says it as one JSON object.
    void roleAndStatusOverTheSocket()
    {
        QProcess program;
        const QString folder = Dir.filePath(QStringLiteral("roles"));
        const QString socket = QDir(folder).filePath(QStringLiteral("varnex.ctl"));
        QVERIFY(StartProgram(program, folder, socket));
        const TRun master = Ctl({QStringLiteral("role"), QStringLiteral("master"), QStringLiteral("--cause"), QStringLiteral("keepalived"),
                                 QStringLiteral("--control"), socket});
        QCOMPARE(master.ExitCode, 0);
        QCOMPARE(master.Out, QStringLiteral("主用\n"));
        const TRun status = Ctl({QStringLiteral("status"), QStringLiteral("--control"), socket});
        QCOMPARE(status.ExitCode, 0);
        QCOMPARE(status.Out.count(QLatin1Char('\n')), 1);
        const QJsonObject object = QJsonDocument::fromJson(status.Out.toUtf8()).object();
        QCOMPARE(object.value(QStringLiteral("role")).toString(), QStringLiteral("master"));
        QCOMPARE(object.value(QStringLiteral("role_cause")).toString(), QStringLiteral("keepalived"));
        QVERIFY(object.value(QStringLiteral("platform_link")).toObject().value(QStringLiteral("bound")).toBool());
        QCOMPARE(Ctl({QStringLiteral("role"), QStringLiteral("backup"), QStringLiteral("--control"), socket}).ExitCode, 0);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        const QString log = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(log.count(QStringLiteral("角色：")), 3);
        QVERIFY2(log.contains(QStringLiteral("角色：备用（启动）")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("角色：主用（keepalived）")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("角色：备用\n")), qPrintable(log));
    }

    // A program that is stopped (SIGSTOP) does not answer: check fails within 3 s.
    void stoppedProgramFailsCheck()
    {
        QProcess program;
        const QString folder = Dir.filePath(QStringLiteral("stopped"));
        const QString socket = QDir(folder).filePath(QStringLiteral("varnex.ctl"));
        QVERIFY(StartProgram(program, folder, socket));
        QCOMPARE(::kill(pid_t(program.processId()), SIGSTOP), 0);
        const TRun check = Ctl({QStringLiteral("check"), QStringLiteral("--control"), socket}, 3000);
        ::kill(pid_t(program.processId()), SIGCONT);
        QVERIFY(check.Finished);
        QCOMPARE(check.ExitCode, 1);
        QVERIFY2(check.Err.contains(QStringLiteral("did not answer")), qPrintable(check.Err));
        QCOMPARE(Ctl({QStringLiteral("check"), QStringLiteral("--control"), socket}).ExitCode, 0);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }
    // The socket file removed under a running program (a cleaner of the runtime folder, a
    // careless hand): it is there again within a few seconds, the program says so, and it is
    // still removed when the program ends.
    void removedSocketIsMadeAnew()
    {
        QProcess program;
        const QString folder = Dir.filePath(QStringLiteral("removed"));
        const QString socket = QDir(folder).filePath(QStringLiteral("varnex.ctl"));
        QVERIFY(StartProgram(program, folder, socket));
        QVERIFY(QFile::remove(socket));
        QVERIFY(QTest::qWaitFor([&] { return Ctl({QStringLiteral("check"), QStringLiteral("--control"), socket}, 2000).ExitCode == 0; }, 5000));
        Stop(program);
        QVERIFY2(QString::fromUtf8(program.readAllStandardError()).contains(QStringLiteral("已重新建立")), "no line about the socket made anew");
        QVERIFY(!QFileInfo::exists(socket));
    }

    // Descriptors used up in the program: a request is still answered (on the one kept in
    // reserve), the socket file stays, the program says so once, and all is as before when
    // descriptors are free again.
    void answersWithDescriptorsUsedUp()
    {
        QProcess program;
        const QString folder = Dir.filePath(QStringLiteral("descriptors"));
        const QString socket = QDir(folder).filePath(QStringLiteral("varnex.ctl"));
        QVERIFY(StartProgram(program, folder, socket));
        const pid_t pid = pid_t(program.processId());
        const qsizetype open = QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
        rlimit before{};
        QCOMPARE(::prlimit(pid, RLIMIT_NOFILE, nullptr, &before), 0);
        rlimit none = before;
        none.rlim_cur = rlim_t(open);
        QCOMPARE(::prlimit(pid, RLIMIT_NOFILE, &none, nullptr), 0);
        for (int i = 0; i < 5; ++i) {
            const TRun check = Ctl({QStringLiteral("check"), QStringLiteral("--control"), socket});
            QVERIFY2(check.ExitCode == 0, qPrintable(QStringLiteral("try %1: %2").arg(i).arg(check.Err)));
        }
        const TRun status = Ctl({QStringLiteral("status"), QStringLiteral("--control"), socket});
        QCOMPARE(status.ExitCode, 0);
        QVERIFY(QJsonDocument::fromJson(status.Out.toUtf8()).object().contains(QStringLiteral("role")));
        QVERIFY(QFileInfo::exists(socket));
        QCOMPARE(::prlimit(pid, RLIMIT_NOFILE, &before, nullptr), 0);
        QCOMPARE(Ctl({QStringLiteral("check"), QStringLiteral("--control"), socket}).ExitCode, 0);
        Stop(program);
        const QString log = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(log.count(QStringLiteral("文件描述符已用尽")), 1);
    }

    // A second program whose control socket would be where the first one listens does not run
    // on without one: it ends with status 1 and one line, and the first is untouched.
    void secondProgramOnOneSocketEnds()
    {
        QProcess first;
        const QString socket = Dir.filePath(QStringLiteral("shared.ctl"));
        QVERIFY(StartProgram(first, Dir.filePath(QStringLiteral("first")), socket));
        QProcess second;
        const QString folder = Dir.filePath(QStringLiteral("second"));
        QVERIFY(WriteSettings(folder));
        second.setProcessEnvironment(Environment());
        second.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                     {QStringLiteral("--headless"), QStringLiteral("--data-dir"), folder, QStringLiteral("--control"), socket});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 1);
        const QString said = QString::fromUtf8(second.readAllStandardError());
        QCOMPARE(said.count(QLatin1Char('\n')), 1);
        QVERIFY2(said.contains(QStringLiteral("已被另一个正在运行的程序使用")), qPrintable(said));
        QCOMPARE(Ctl({QStringLiteral("check"), QStringLiteral("--control"), socket}).ExitCode, 0);
        Stop(first);
    }

    // ctl asks the program of the data folder it is given (or the one its user's settings name),
    // wherever it looks: another program at that socket is passed over, never reported.
    void ctlAsksOnlyTheProgramMeant_data()
    {
        QTest::addColumn<QString>("given"); // its folder, a link to it, or another folder
        QTest::addColumn<bool>("control");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("its folder, where it looks") << "meant" << false << 0;
        QTest::newRow("its folder, told the socket") << "meant" << true << 0;
        QTest::newRow("a link to its folder") << "link" << false << 0;
        QTest::newRow("another folder, where it looks") << "other" << false << 1;
        QTest::newRow("another folder, told the socket") << "other" << true << 1;
    }
    void ctlAsksOnlyTheProgramMeant()
    {
        QFETCH(QString, given);
        QFETCH(bool, control);
        QFETCH(int, exitCode);
        // The program listens where ctl looks when not told: the runtime folder's varnex.ctl.
        const QString folder = Dir.filePath(QStringLiteral("meant"));
        const QString socket = Dir.filePath(QStringLiteral("runtime/varnex.ctl"));
        QVERIFY(QDir().mkpath(Dir.filePath(QStringLiteral("runtime"))));
        QFile::setPermissions(Dir.filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(WriteSettings(folder));
        QProcess program;
        program.setProcessEnvironment(Environment());
        program.start(TestSupport::BuildPath(QStringLiteral("varnex")), {QStringLiteral("--headless"), QStringLiteral("--data-dir"), folder});
        QVERIFY(QTest::qWaitFor([&] { return Ctl({QStringLiteral("check"), QStringLiteral("--control"), socket}, 2000).ExitCode == 0; }, 15000));
        const QString other = Dir.filePath(QStringLiteral("other"));
        QVERIFY(WriteSettings(other));
        const QString link = Dir.filePath(QStringLiteral("link"));
        QFile::link(folder, link);
        QStringList arguments{QStringLiteral("check"), QStringLiteral("--data-dir"), given == QLatin1String("meant") ? folder
                                                                                  : given == QLatin1String("link")  ? link
                                                                                                                    : other};
        if (control)
            arguments << QStringLiteral("--control") << socket;
        const TRun check = Ctl(arguments);
        QCOMPARE(check.ExitCode, exitCode);
        if (exitCode != 0)
            QVERIFY2(check.Err.contains(QStringLiteral("no program with data folder")) && check.Err.contains(folder), qPrintable(check.Err));
        else
            QCOMPARE(check.Out, QStringLiteral("ok\n"));
        Stop(program);
    }
    // A control socket that cannot be made: a program of a pair, which keepalived could then
    // neither ask nor switch, does not start; one alone runs on and says why.
    void socketThatCannotBeMade_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<bool>("starts");
        QTest::newRow("pair") << "pair" << false;
        QTest::newRow("single") << "single" << true;
    }
    void socketThatCannotBeMade()
    {
        QFETCH(QString, role);
        QFETCH(bool, starts);
        const QString folder = Dir.filePath(QStringLiteral("unmade-") + role);
        QVERIFY(WriteSettings(folder, role));
        // Longer than a local socket's address can hold.
        const QString socket = QDir(folder).filePath(QString(120, QLatin1Char('s')) + QStringLiteral(".ctl"));
        QProcess program;
        program.setProcessEnvironment(Environment());
        program.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                      {QStringLiteral("--headless"), QStringLiteral("--data-dir"), folder, QStringLiteral("--control"), socket});
        QString said;
        QVERIFY(QTest::qWaitFor([&] {
            said += QString::fromUtf8(program.readAllStandardError());
            return said.contains(QStringLiteral("已启动")) || program.state() == QProcess::NotRunning;
        }, 15000));
        said += QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(said.contains(QStringLiteral("控制接口 %1 无法打开").arg(socket)), qPrintable(said));
        if (starts) {
            QVERIFY2(said.contains(QStringLiteral("已启动")), qPrintable(said));
            Stop(program);
        } else {
            QVERIFY(program.state() == QProcess::NotRunning || program.waitForFinished(5000));
            QCOMPARE(program.exitCode(), 1);
        }
    }

    // `ctl watch` prints the status as one JSON object a line, again at least every second,
    // until the program ends (exit 1, saying so). A few watchers at once; one more is refused.
    void watchStream()
    {
        QProcess program;
        const QString folder = Dir.filePath(QStringLiteral("watched"));
        const QString socket = QDir(folder).filePath(QStringLiteral("varnex.ctl"));
        QVERIFY(StartProgram(program, folder, socket));
        std::vector<std::unique_ptr<QProcess>> watchers;
        for (int i = 0; i < 4; ++i) {
            watchers.push_back(std::make_unique<QProcess>());
            watchers.back()->setProcessEnvironment(Environment());
            watchers.back()->start(TestSupport::BuildPath(QStringLiteral("varnex")),
                                   {QStringLiteral("ctl"), QStringLiteral("watch"), QStringLiteral("--control"), socket});
        }
        QProcess &first = *watchers.front();
        QByteArray lines;
        QTRY_VERIFY_WITH_TIMEOUT((lines += first.readAllStandardOutput()).count('\n') >= 2, 5000);
        for (const QByteArray &line : lines.trimmed().split('\n')) {
            const QJsonObject status = QJsonDocument::fromJson(line).object();
            QCOMPARE(status.value(QStringLiteral("role")).toString(), QStringLiteral("backup"));
            QVERIFY(status.contains(QStringLiteral("channels")));
        }
        for (const auto &watcher : watchers)
            QTRY_VERIFY_WITH_TIMEOUT(watcher->canReadLine(), 5000);
        const TRun fifth = Ctl({QStringLiteral("watch"), QStringLiteral("--control"), socket});
        QVERIFY(fifth.Finished);
        QCOMPARE(fifth.ExitCode, 1);
        QVERIFY2(fifth.Err.contains(QStringLiteral("4 watchers already")), qPrintable(fifth.Err));
        // A change is there within a refresh.
        QCOMPARE(Ctl({QStringLiteral("role"), QStringLiteral("master"), QStringLiteral("--control"), socket}).ExitCode, 0);
        QTRY_VERIFY_WITH_TIMEOUT((lines += first.readAllStandardOutput()).contains("\"role\":\"master\""), 2000);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        for (const auto &watcher : watchers) {
            QVERIFY(watcher->waitForFinished(5000));
            QCOMPARE(watcher->exitCode(), 1);
            QVERIFY(watcher->readAllStandardError().contains("ended the stream"));
        }
    }
};

QTEST_GUILESS_MAIN(TstControl)
#include "tst_control.moc"
