#include "platform_link/ldtx_frame.h"
#include "support/test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <cstring>
#include <memory>
#include <utility>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The service manager's end of NOTIFY_SOCKET: a Unix datagram socket in a folder of the test.
class TNotifySocket
{
public:
    explicit TNotifySocket(const QString &path) : Path(path)
    {
        Fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), size_t(qMin<qsizetype>(name.size(), sizeof address.sun_path - 1)));
        Ok = Fd >= 0 && ::bind(Fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        // Read as the manager does, at once: a full queue would hold the program in its send.
        if (Ok) {
            Reader = std::make_unique<QSocketNotifier>(Fd, QSocketNotifier::Read);
            QObject::connect(Reader.get(), &QSocketNotifier::activated, [this] { Drain(); });
        }
    }
    ~TNotifySocket()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    // Every message that has arrived since the last call.
    QStringList Received()
    {
        Drain();
        return std::exchange(Messages, {});
    }

    QString Path;
    bool Ok = false;

private:
    void Drain()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(Fd, buffer, sizeof buffer, 0)) > 0;)
            Messages << QString::fromUtf8(buffer, int(n));
    }

    int Fd = -1;
    std::unique_ptr<QSocketNotifier> Reader;
    QStringList Messages;
};

} // namespace

// The program as a service manager and an operator meet it: it says when it serves and when it
// cannot, pings the watchdog, writes what matters to the journal with its priority, and names
// the folders it works in.
class TstService : public QObject
{
    Q_OBJECT

    QTemporaryDir Dir;
    QUdpSocket Platform;

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NOTIFY_SOCKET", "WATCHDOG_USEC",
                                 "WATCHDOG_PID", "JOURNAL_STREAM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), Dir.filePath(QStringLiteral("share")));
        // A control socket of this test's own: programs of other tests run meanwhile.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), TestSupport::RuntimeFolder(Dir));
        return env;
    }
    // Settings for a service on free ports; the platform is this test's socket.
    QList<int> WriteSettings(const QString &file, const QStringList &extra = {})
    {
        const QList<int> ports = TestSupport::FreeUdpPorts(2);
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile settings(file);
        if (!settings.open(QIODevice::WriteOnly))
            return {};
        settings.write((QStringList{QStringLiteral("CommIpAddress=127.0.0.1"),
                                    QStringLiteral("CommIpPort=%1").arg(Platform.localPort()),
                                    QStringLiteral("CommRecIpPort=%1").arg(ports[0]), QStringLiteral("RecIpPort=%1").arg(ports[1]),
                                    QStringLiteral("HttpAddress=")}
                        + extra)
                           .join(QLatin1Char('\n'))
                           .toUtf8());
        return ports;
    }
    static QString Output(QProcess &p) { return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()); }
    // Runs the program to its end within 20 s; its exit code, -1 when it hung or crashed.
    int Run(const QStringList &arguments, QString *said, const QProcessEnvironment &env)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(Dir.path());
        p.start(TestSupport::BuildPath(QStringLiteral("varnex")), arguments);
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        *said = Output(p);
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(Dir.isValid());
        QVERIFY(Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    }

    // A service that cannot do its work ends at once with status 1 and says why, so systemd
    // restarts it and the journal shows the cause; it never claims to have started.
    void startupThatCannotServeExits_data()
    {
        QTest::addColumn<QString>("problem"); // what the test spoils
        QTest::addColumn<QString>("said");
        QTest::newRow("platform port taken") << "platform-port" << "安检侧接收端口";
        QTest::newRow("switch port taken") << "host-port" << "主机侧接收端口";
        QTest::newRow("data folder is a file") << "data-file" << "不能创建目录";
        QTest::newRow("settings file is a folder") << "settings-folder" << "无法读取";
    }
    void startupThatCannotServeExits()
    {
        QFETCH(QString, problem);
        QFETCH(QString, said);
        const QString place = Dir.filePath(QStringLiteral("cannot-") + problem);
        QString data = place + QStringLiteral("/data");
        const QList<int> ports = WriteSettings(data + QStringLiteral("/Zelvane.conf"));
        QVERIFY(!ports.isEmpty());
        QUdpSocket taker;
        if (problem == QLatin1String("platform-port"))
            QVERIFY(taker.bind(QHostAddress::AnyIPv4, quint16(ports[0])));
        if (problem == QLatin1String("host-port"))
            QVERIFY(taker.bind(QHostAddress::AnyIPv4, quint16(ports[1])));
        if (problem == QLatin1String("data-file")) {
            data = place + QStringLiteral("/plain-file");
            QFile file(data);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (problem == QLatin1String("settings-folder")) {
            // The folder's settings file is taken from the data folder when one is there.
            QVERIFY(QFile::remove(data + QStringLiteral("/Zelvane.conf")));
            QVERIFY(QDir().mkpath(data + QStringLiteral("/Zelvane.conf")));
        }
        QString output;
        QCOMPARE(Run({QStringLiteral("--headless"), QStringLiteral("--data-dir"), data}, &output, Environment()), 1);
        QVERIFY2(output.contains(said) && output.contains(QStringLiteral("Varnex 无法工作")), qPrintable(output));
        QVERIFY2(!output.contains(QStringLiteral("已启动")), qPrintable(output));
        // Nor what only a running program would do (answer from an empty directory).
        QVERIFY2(!output.contains(QStringLiteral("应答")), qPrintable(output));
    }

    // Under systemd: READY=1 once the platform is served, watchdog pings from the running event
    // loop, STOPPING=1 on SIGTERM. Standard error is the journal's stream: every line carries its
    // priority and no time of its own; a notification nobody hears is a warning, and so is a
    // platform gone quiet, its return a notice.
    void underServiceManagerAndJournal()
    {
        const QString data = Dir.filePath(QStringLiteral("managed"));
        const QList<int> ports = WriteSettings(data + QStringLiteral("/Zelvane.conf"), {QStringLiteral("CommSilenceSeconds=1")});
        QVERIFY(!ports.isEmpty());
        TNotifySocket manager(Dir.filePath(QStringLiteral("notify")));
        QVERIFY(manager.Ok);
        const QString journal = Dir.filePath(QStringLiteral("journal.txt"));
        QFile(journal).open(QIODevice::WriteOnly);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(journal).constData(), &st), 0);

        QProcessEnvironment env = Environment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), manager.Path);
        env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));
        env.insert(QStringLiteral("JOURNAL_STREAM"), QStringLiteral("%1:%2").arg(quint64(st.st_dev)).arg(quint64(st.st_ino)));
        QProcess service;
        service.setProcessEnvironment(env);
        service.setWorkingDirectory(Dir.path());
        service.setStandardErrorFile(journal, QIODevice::Append);
        service.start(TestSupport::BuildPath(QStringLiteral("varnex")), {QStringLiteral("--headless"), QStringLiteral("--data-dir"), data});
        QVERIFY(service.waitForStarted(10000));

        QStringList heard;
        QTRY_VERIFY_WITH_TIMEOUT((heard += manager.Received()).join(QLatin1Char('|')).contains(QStringLiteral("READY=1")), 10000);
        // Ready means served: the platform's first question is answered.
        QCOMPARE(TestSupport::AskCount(Platform, ports[0], LdtxFrame::GroupListQuery), 0);
        QTRY_VERIFY_WITH_TIMEOUT((heard += manager.Received()).count(QStringLiteral("WATCHDOG=1")) >= 3, 10000);

        // A voice notification for a group the empty directory does not have.
        const QByteArray notify = QByteArray(1, '\0') + LdtxFrame::Le32(7) + char(2) + QByteArray("drill") + char(1);
        Platform.writeDatagram(LdtxFrame::Build(notify, LdtxFrame::VoiceNotify, 0, 3, QStringLiteral("CRC-16/MODBUS"))->Bytes,
                               QHostAddress::LocalHost, quint16(ports[0]));
        const auto written = [&journal] {
            QFile file(journal);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        QTRY_VERIFY2_WITH_TIMEOUT(written().contains(QStringLiteral("安检监控平台通讯中断")), qPrintable(written()), 10000);
        QCOMPARE(TestSupport::AskCount(Platform, ports[0], LdtxFrame::GroupListQuery), 0);
        QTRY_VERIFY_WITH_TIMEOUT(written().contains(QStringLiteral("安检监控平台通讯恢复")), 10000);

        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitCode(), 0);
        QVERIFY2(manager.Received().contains(QStringLiteral("STOPPING=1")), qPrintable(heard.join(QLatin1Char('|'))));

        const QStringList lines = written().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QRegularExpression priority(QStringLiteral("^<[3-7]>\\S"));
        for (const QString &line : lines)
            QVERIFY2(priority.match(line).hasMatch(), qPrintable(line));
        const auto has = [&lines](const QString &prefix, const QString &text) {
            return std::any_of(lines.begin(), lines.end(),
                               [&](const QString &line) { return line.startsWith(prefix) && line.contains(text); });
        };
        QVERIFY2(has(QStringLiteral("<5>"), QStringLiteral("Varnex 已启动")), qPrintable(lines.join('\n')));
        QVERIFY2(has(QStringLiteral("<4>"), QStringLiteral("未执行")), qPrintable(lines.join('\n')));
        QVERIFY2(has(QStringLiteral("<4>"), QStringLiteral("安检监控平台通讯中断")), qPrintable(lines.join('\n')));
        QVERIFY2(has(QStringLiteral("<5>"), QStringLiteral("安检监控平台通讯恢复")), qPrintable(lines.join('\n')));
        QVERIFY2(has(QStringLiteral("<5>"), QStringLiteral("Varnex 已停止")), qPrintable(lines.join('\n')));
    }

    // Standard error that is not the journal's stream (a terminal, a file a script chose) keeps
    // the local time in front of each line and no priority; with --verbose the libraries' own
    // lines (the sound libraries' complaints where there is no sound card) too.
    void outsideTheJournalLinesKeepTheirTime_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("plain") << QStringList();
        QTest::newRow("verbose") << QStringList{QStringLiteral("--verbose")};
    }
    void outsideTheJournalLinesKeepTheirTime()
    {
        QFETCH(QStringList, options);
        const QString data = Dir.filePath(QStringLiteral("plain") + options.join(QString()));
        const QList<int> ports = WriteSettings(data + QStringLiteral("/Zelvane.conf"));
        QUdpSocket taker; // so that it ends by itself, after its start-up lines
        QVERIFY(taker.bind(QHostAddress::AnyIPv4, quint16(ports[1])));
        QProcessEnvironment env = Environment();
        env.insert(QStringLiteral("JOURNAL_STREAM"), QStringLiteral("1:2")); // someone else's stream
        QString output;
        QCOMPARE(Run(QStringList{QStringLiteral("--headless"), QStringLiteral("--data-dir"), data} + options, &output, env), 1);
        const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        for (const QString &line : lines)
            QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ")).match(line).hasMatch(), qPrintable(line));
    }

    // The window program without a display says so in one line and points at --headless,
    // instead of Qt's abort.
    void noDisplayWithoutHeadless()
    {
        QString output;
        QCOMPARE(Run({QStringLiteral("--data-dir"), Dir.filePath(QStringLiteral("no-display"))}, &output, Environment()), 1);
        QVERIFY2(output.contains(QStringLiteral("--headless")), qPrintable(output));
        QVERIFY2(!output.contains(QStringLiteral("xcb")) && !output.contains(QStringLiteral("Aborted")), qPrintable(output));
        QVERIFY(!QFileInfo::exists(Dir.filePath(QStringLiteral("no-display"))));
    }

    // Commands that only read refuse a data folder without a directory, rather than making an
    // empty one and reporting 0 rows; every command names the folders it uses.
    void readingCommandsNeedTheDirectory_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("export") << QStringList{"export", Dir.filePath(QStringLiteral("out.xlsx"))} << 1;
        QTest::newRow("check-keys") << QStringList{"check-keys"} << 2; // could not check
    }
    void readingCommandsNeedTheDirectory()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const QString data = Dir.filePath(QStringLiteral("typo-") + arguments[0]);
        QString output;
        QCOMPARE(Run(arguments + QStringList{QStringLiteral("--data-dir"), data}, &output, Environment()), exitCode);
        QVERIFY2(output.contains(QStringLiteral("没有电话号码库")) && output.contains(data), qPrintable(output));
        QVERIFY(!QFileInfo::exists(data));
        QVERIFY(!QFileInfo::exists(Dir.filePath(QStringLiteral("out.xlsx"))));
    }

    // Given the service's data folder, check-keys takes the service's settings and key.dat from
    // it, wherever it is run from.
    void checkKeysTakesTheServiceFolder()
    {
        const QString data = Dir.filePath(QStringLiteral("service"));
        QVERIFY(!WriteSettings(data + QStringLiteral("/Zelvane.conf"), {QStringLiteral("CurrentKeyboard=5")}).isEmpty());
        QFile keys(data + QStringLiteral("/key.dat"));
        QVERIFY(keys.open(QIODevice::WriteOnly));
        keys.write(TestSupport::KeyFile({{5 * 1088, 4321}}));
        keys.close();
        QString output;
        QCOMPARE(Run({QStringLiteral("import"), TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.csv")),
                      QStringLiteral("--data-dir"), data},
                     &output, Environment()),
                 0);
        QVERIFY2(output.contains(data + QStringLiteral("/Zelvane.conf")), qPrintable(output));
        Run({QStringLiteral("check-keys"), QStringLiteral("--data-dir"), data}, &output, Environment());
        QVERIFY2(output.contains(QStringLiteral("键盘 5")) && output.contains(QStringLiteral("号码 4321")), qPrintable(output));
    }

    // The README's drill on the shipped example site: the directory imported, its groups made
    // from the command line, the example settings and key.dat; a stand-in switch names the
    // keys a stand-in platform's voice notification presses.
    void commissioningDrill()
    {
        const QString example = TestSupport::SourcePath(QStringLiteral("share/examples/site"));
        const QString site = Dir.filePath(QStringLiteral("site"));
        QVERIFY(QDir().mkpath(site));
        QVERIFY(QFile::copy(example + QStringLiteral("/key.dat"), site + QStringLiteral("/key.dat")));
        // The example's ports, moved to free ones so that the drill can run beside anything.
        QUdpSocket platform, switchCpu;
        QVERIFY(platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        QVERIFY(switchCpu.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        const quint16 platformPort = platform.localPort(), switchPort = switchCpu.localPort();
        platform.close();
        switchCpu.close();
        const QList<int> listen = TestSupport::FreeUdpPorts(2);
        QFile settings(example + QStringLiteral("/Zelvane.conf"));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(settings.readAll());
        const QList<QPair<QString, int>> ports{{QStringLiteral("CommIpPort"), platformPort},
                                               {QStringLiteral("CommRecIpPort"), listen[0]},
                                               {QStringLiteral("RecIpPort"), listen[1]},
                                               {QStringLiteral("IpPort"), switchPort}};
        for (const auto &[name, port] : ports) {
            const QRegularExpression line(QStringLiteral("^%1=\\d+$").arg(name), QRegularExpression::MultilineOption);
            QVERIFY2(line.match(text).hasMatch(), qPrintable(name));
            text.replace(line, QStringLiteral("%1=%2").arg(name).arg(port));
        }
        QFile copy(site + QStringLiteral("/Zelvane.conf"));
        QVERIFY(copy.open(QIODevice::WriteOnly));
        copy.write(text.toUtf8());
        copy.close();

        QString output;
        QCOMPARE(Run({QStringLiteral("import"), example + QStringLiteral("/directory.csv"), QStringLiteral("--data-dir"), site},
                     &output, Environment()),
                 0);
        QCOMPARE(Run({QStringLiteral("groups"), QStringLiteral("init"), QStringLiteral("1"), QStringLiteral("8"),
                      QStringLiteral("--data-dir"), site},
                     &output, Environment()),
                 0);
        QCOMPARE(Run({QStringLiteral("check-keys"), QStringLiteral("--data-dir"), site}, &output, Environment()), 0);

        QProcess service;
        service.setProcessEnvironment(Environment());
        service.start(TestSupport::BuildPath(QStringLiteral("varnex")), {QStringLiteral("--headless"), QStringLiteral("--data-dir"), site});
        QVERIFY(service.waitForStarted(10000));
        QByteArray started;
        QTRY_VERIFY2_WITH_TIMEOUT((started += service.readAllStandardError()).contains("Varnex"), started.constData(), 10000);
        QProcess switchSim;
        switchSim.start(TestSupport::BuildPath(QStringLiteral("varnex-sim")),
                        {QStringLiteral("switch"), QStringLiteral("--listen"), QString::number(switchPort), QStringLiteral("--to"),
                         QStringLiteral("127.0.0.1:%1").arg(listen[1]), QStringLiteral("--key-file"),
                         site + QStringLiteral("/key.dat"), QStringLiteral("--count"), QStringLiteral("5")});
        QVERIFY(switchSim.waitForStarted(10000));
        const auto platformSim = [&](const QStringList &request) {
            QProcess p;
            p.start(TestSupport::BuildPath(QStringLiteral("varnex-sim")), QStringList{QStringLiteral("platform"), QStringLiteral("--to"),
                                                           QStringLiteral("127.0.0.1:%1").arg(listen[0]),
                                                           QStringLiteral("--listen"), QString::number(platformPort)}
                                                    + request);
            return p.waitForFinished(10000) && p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
        };
        QVERIFY2(platformSim({QStringLiteral("group-list")}).contains(QStringLiteral("8 rows")), "group-list");
        const QString reply =
            platformSim({QStringLiteral("voice"), QStringLiteral("5"), QStringLiteral("3号工作面瓦斯超限，请立即撤离"), QStringLiteral("1")});
        QVERIFY2(reply.contains(QStringLiteral("3 numbers")), qPrintable(reply));
        // Eight seconds off-hook, then the keys: the group's three extensions between the two
        // function keys.
        QVERIFY(switchSim.waitForFinished(30000));
        const QString keys = QString::fromUtf8(switchSim.readAllStandardOutput());
        for (const char *number : {"number 2007", "number 2008", "number 2009"})
            QVERIFY2(keys.contains(QLatin1String(number)), qPrintable(keys));
        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitCode(), 0);
    }

    // The shipped key.dat is what the documented command makes from the example's numbers.
    void exampleKeyFileIsReproducible()
    {
        const QString made = Dir.filePath(QStringLiteral("made-key.dat"));
        QProcess p;
        p.start(TestSupport::BuildPath(QStringLiteral("varnex-sim")), {QStringLiteral("keys"), QStringLiteral("--keyboard"), QStringLiteral("3"),
                                             QStringLiteral("--out"), made, QStringLiteral("2001-2014")});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QFile shipped(TestSupport::SourcePath(QStringLiteral("share/examples/site/key.dat"))), ours(made);
        QVERIFY(shipped.open(QIODevice::ReadOnly) && ours.open(QIODevice::ReadOnly));
        QVERIFY(shipped.readAll() == ours.readAll());
    }
};

QTEST_GUILESS_MAIN(TstService)
#include "tst_service.moc"
