#include "support/test_support.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

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
        const QList<int> ports = TestSupport::FreeUdpPorts(4);
        QDir().mkpath(folder);
        QFile settings(QDir(folder).filePath(QStringLiteral("Zelvane.conf")));
        if (!settings.open(QIODevice::WriteOnly))
            return false;
        settings.write(QStringList{QStringLiteral("Role=pair"), QStringLiteral("CommIpAddress=127.0.0.1"),
                                   QStringLiteral("CommIpPort=%1").arg(ports[0]), QStringLiteral("CommRecIpPort=%1").arg(ports[1]),
                                   QStringLiteral("RecIpPort=%1").arg(ports[2]), QStringLiteral("IpAddress=127.0.0.1"),
                                   QStringLiteral("IpPort=%1").arg(ports[3]), QStringLiteral("HttpAddress=")}
                           .join(QLatin1Char('\n'))
                           .toUtf8());
        settings.close();
        program.setProcessEnvironment(Environment());
        program.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                      {QStringLiteral("--headless"), QStringLiteral("--data-dir"), folder, QStringLiteral("--control"), socket});
        return QTest::qWaitFor([&] { return Ctl({QStringLiteral("check"), QStringLiteral("--control"), socket}, 2000).ExitCode == 0; },
                               15000);
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
        QTest::newRow("nobody there") << QStringList{"check", "--control", "/nonexistent/varnex.ctl"} << 1 << "no program answers at /nonexistent/varnex.ctl";
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
