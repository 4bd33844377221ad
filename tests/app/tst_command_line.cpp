#include "directory/directory_store.h"
#include "platform_link/ldtx_frame.h"
#include "support/other_program.h"
#include "support/small_disk.h"
#include "support/test_support.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>
#include <QUdpSocket>

#include <csignal>

// The built program from outside: headless as a service, and its directory commands beside it.
class TstCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir Dir;
    QUdpSocket Platform;
    QUdpSocket Switch; // a stand-in switch CPU
    int ListenPort = 0;
    int HostPort = 0;

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
        return env;
    }
    // Runs a command to its end; its standard error in *said.
    int Command(const QStringList &arguments, QString *said = nullptr, const QString &dataDir = QString())
    {
        QProcess p;
        p.setProcessEnvironment(Environment());
        p.setWorkingDirectory(Dir.path());
        p.start(QStringLiteral(VARNEX_PROGRAM),
                arguments + QStringList{QStringLiteral("--data-dir"), dataDir.isEmpty() ? Dir.filePath(QStringLiteral("data")) : dataDir});
        if (!p.waitForFinished(30000))
            return -1;
        if (said)
            *said = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    int Ask(uint8_t type) { return TestSupport::AskCount(Platform, ListenPort, type); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        QVERIFY(Switch.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        const QList<int> ports = TestSupport::FreeUdpPorts(2);
        ListenPort = ports[0];
        HostPort = ports[1];
        QDir().mkpath(Dir.filePath(QStringLiteral("config")));
        TestSupport::WriteSettings(Dir, {QStringLiteral("CommIpAddress=127.0.0.1"),
                                         QStringLiteral("CommIpPort=%1").arg(Platform.localPort()),
                                         QStringLiteral("CommRecIpPort=%1").arg(ports[0]),
                                         QStringLiteral("RecIpPort=%1").arg(ports[1]), QStringLiteral("CurrentKeyboard=3"),
                                         QStringLiteral("IpAddress=127.0.0.1"), QStringLiteral("IpAddress1=127.0.0.1"),
                                         QStringLiteral("IpPort=%1").arg(Switch.localPort())});
        QFile keys(Dir.filePath(QStringLiteral("key.dat")));
        QVERIFY(keys.open(QIODevice::WriteOnly));
        keys.write(TestSupport::KeyFile({{3 * 1088, 2001}, {3 * 1088 + 1, 9999}}));
        keys.close();
        QFile::rename(Dir.filePath(QStringLiteral("Zelvane.conf")), Dir.filePath(QStringLiteral("config/Zelvane.conf")));
    }

    // Help, version and Qt's own options, with no display.
    void helpAndVersion_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("printed");
        QTest::newRow("--help") << QStringList{"--help"} << 0
                                << QStringList{"Usage: varnex", "--headless", "import", "export", "check-keys", "--data-dir"};
        QTest::newRow("--help-all") << QStringList{"--help-all"} << 0 << QStringList{"Usage: varnex", "-platform"};
        QTest::newRow("--version") << QStringList{"--version"} << 0 << QStringList{"varnex 0."};
        QTest::newRow("Qt's -platform") << QStringList{"-platform", "offscreen", "--version"} << 0 << QStringList{"varnex 0."};
        QTest::newRow("Qt's options, other forms")
            << QStringList{"--platform=offscreen", "-style", "fusion", "-reverse", "--version"} << 0 << QStringList{"varnex 0."};
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << 2 << QStringList{"unknown command", "Usage: varnex"};
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << QStringList{"frobnicate"};
    }
    void helpAndVersion()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, printed);
        QProcess p;
        p.setProcessEnvironment(Environment()); // no display
        p.start(QStringLiteral(VARNEX_PROGRAM), arguments);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        const QString output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        QVERIFY2(p.exitCode() == exitCode, qPrintable(output));
        for (const QString &text : printed)
            QVERIFY2(output.contains(text), qPrintable(text + QStringLiteral(" not in: ") + output));
    }

    // `varnex import` on a nearly full disk (8 MB, 3 MB free, 120,000 rows): nothing of it is
    // stored, the rows there before stay, the exit status is 1 and the disk is named as the
    // cause; `varnex export` onto it says the same.
    void importOnAFullDisk()
    {
        TSmallDisk disk(8 * 1024 * 1024);
        if (!disk.Problem().isEmpty())
            QSKIP(qPrintable(disk.Problem() + QStringLiteral("; tst_import_export's page-limit rows cover the import")));
        QString said;
        QCOMPARE(Command({QStringLiteral("import"), QStringLiteral(VARNEX_TEST_DATA "/spreadsheets/directory-sample.csv")}, &said,
                         disk.Path()),
                 0);
        const QString file = Dir.filePath(QStringLiteral("many.csv"));
        QFile csv(file);
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write("序号,分机号码,分机名称,安装地址\n");
        for (int r = 1; r <= 120000; ++r)
            csv.write(QStringLiteral("%1,%2,分机名称%1,安装地址在第%1号巷道\n").arg(r).arg(100000 + r).toUtf8());
        csv.close();
        QVERIFY(disk.LeaveFree(3 * 1024 * 1024));
        QCOMPARE(Command({QStringLiteral("import"), file}, &said, disk.Path()), 1);
        QVERIFY2(said.contains(QStringLiteral("导入失败，未导入任何记录")) && said.contains(QStringLiteral("磁盘已满")), qPrintable(said));
        // SQLite's own rollback is finished: no journal is left for the next program, and the
        // room the import took is free again.
        QVERIFY(!QFile::exists(disk.Path() + QStringLiteral("/DATA/ChaDB.sqlite-journal")));
        QVERIFY2(disk.Free() > 2 * 1024 * 1024, qPrintable(QString::number(disk.Free())));
        // An export onto the same disk, full, names it too, and asks for no format to be checked.
        QVERIFY(disk.LeaveFree(0));
        QCOMPARE(Command({QStringLiteral("export"), disk.Path() + QStringLiteral("/list")}, &said, disk.Path()), 1);
        QVERIFY2(said.contains(QStringLiteral("磁盘已满")) && !said.contains(QStringLiteral("请检查文件的格式")), qPrintable(said));
        disk.Release();
        QCOMPARE(Command({QStringLiteral("export"), Dir.filePath(QStringLiteral("after-full"))}, &said, disk.Path()), 0);
        QVERIFY2(said.contains(QStringLiteral("(50)")), qPrintable(said));
    }

    // Headless, with no display: serves the platform, takes an import made beside it, and stops
    // cleanly on SIGTERM; the commands meet a locked directory with a clear message.
    void headlessServiceAndCommands()
    {
        QProcess service;
        service.setProcessEnvironment(Environment());
        service.setWorkingDirectory(Dir.path());
        service.start(QStringLiteral(VARNEX_PROGRAM),
                      {QStringLiteral("--headless"), QStringLiteral("--data-dir"), Dir.filePath(QStringLiteral("data"))});
        QVERIFY(service.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(Ask(LdtxFrame::DeviceStatusQuery) == 0, 10000);

        QString said;
        QCOMPARE(Command({QStringLiteral("import"), QStringLiteral(VARNEX_TEST_DATA "/spreadsheets/directory-sample.xlsx")}, &said), 0);
        QVERIFY2(said.contains(QStringLiteral("导入成功！")), qPrintable(said));
        QTRY_COMPARE_WITH_TIMEOUT(Ask(LdtxFrame::DeviceStatusQuery), 50, 5000); // the service sees the other program's commit

        QCOMPARE(Command({QStringLiteral("check-keys")}, &said), 0);
        QVERIFY2(said.contains(QStringLiteral("无键位: 2002")) && !said.contains(QStringLiteral("无键位: 2001 "))
                     && said.contains(QStringLiteral("号码 9999")),
                 qPrintable(said));

        const QString exported = Dir.filePath(QStringLiteral("list"));
        QCOMPARE(Command({QStringLiteral("export"), exported}, &said), 0);
        QVERIFY(QFile::exists(exported + QStringLiteral(".xlsx")));
        {
            TOtherProgram locker(Dir.filePath(QStringLiteral("data/DATA/ChaDB.sqlite")), {QStringLiteral("BEGIN EXCLUSIVE")});
            QVERIFY(locker.Ok);
            QCOMPARE(Command({QStringLiteral("export"), Dir.filePath(QStringLiteral("again"))}, &said), 1);
            QVERIFY2(said.contains(TDM::BusyText()), qPrintable(said));
            QCOMPARE(Command({QStringLiteral("import"), QStringLiteral(VARNEX_TEST_DATA "/spreadsheets/directory-sample.csv")}, &said), 1);
            QVERIFY2(said.contains(TDM::BusyText()), qPrintable(said));
            QCOMPARE(Ask(LdtxFrame::DeviceStatusQuery), 50); // the service answers from its copy
        }

        // The switch link: a CPU makes contact, the platform calls 2001, and after the eight
        // seconds off-hook the key commands reach the CPU.
        QTimer alive; // the CPU keeps the link up
        QObject::connect(&alive, &QTimer::timeout, &Switch,
                         [this] { Switch.writeDatagram(QByteArray(1, '\x01'), QHostAddress::LocalHost, quint16(HostPort)); });
        alive.start(1000);
        Switch.writeDatagram(QByteArray(1, '\x01'), QHostAddress::LocalHost, quint16(HostPort));
        QByteArray call(8, 0);
        call[0] = char(0xD1);
        call[1] = char(0x07);
        call[4] = char(0xD1);
        call[5] = char(0x07);
        Platform.writeDatagram(LdtxFrame::Build(call, LdtxFrame::PhoneCall, 0, 2, QStringLiteral("CRC-16/MODBUS"))->Bytes,
                               QHostAddress::LocalHost, quint16(ListenPort));
        QByteArray keyCommands;
        QTRY_VERIFY_WITH_TIMEOUT((keyCommands += Switch.hasPendingDatagrams() ? Switch.receiveDatagram().data() : QByteArray())
                                     .contains(QByteArray::fromHex("A5A5A5")),
                                 15000);

        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        const QString log = QString::fromUtf8(service.readAllStandardError());
        QVERIFY2(log.contains(QStringLiteral("Varnex 已启动")) && log.contains(QStringLiteral("Varnex 已停止。")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("电话号码库暂时无法读取")), qPrintable(log));
    }

    // With its window (offscreen), a signal stops the program as closing the window does: the
    // window's place saved, 停止 after 启动 in the history, status 0. A second copy that cannot
    // take the ports records nothing in the shared history.
    void windowStopsOnSignals_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void windowStopsOnSignals()
    {
        QFETCH(int, signalNumber);
        const QString data = Dir.filePath(QStringLiteral("window-%1").arg(signalNumber));
        QProcessEnvironment env = Environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const auto start = [&](QProcess &p) {
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(Dir.path());
            p.start(QStringLiteral(VARNEX_PROGRAM), {QStringLiteral("--data-dir"), data});
            QVERIFY(p.waitForStarted(10000));
        };
        const auto stop = [&](QProcess &p) {
            ::kill(pid_t(p.processId()), signalNumber);
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitStatus(), QProcess::NormalExit);
            QCOMPARE(p.exitCode(), 0);
        };
        const QString settings = Dir.filePath(QStringLiteral("config/Zelvane.conf"));
        { // the place of an earlier row goes: this run must write its own
            QFile conf(settings);
            QVERIFY(conf.open(QIODevice::ReadOnly));
            QByteArrayList lines = conf.readAll().split('\n');
            conf.close();
            lines.removeIf([](const QByteArray &line) { return line.startsWith("MainWindowPlace="); });
            QVERIFY(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
            conf.write(lines.join('\n'));
        }
        QProcess running;
        start(running);
        QTRY_VERIFY_WITH_TIMEOUT(Ask(LdtxFrame::GroupListQuery) == 0, 10000);
        QProcess second; // its ports are taken
        start(second);
        QTest::qWait(1500); // let it get as far as it can
        stop(second);
        stop(running);

        QFile conf(settings);
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QVERIFY(conf.readAll().contains("MainWindowPlace="));
        const QString connection = QStringLiteral("history-%1").arg(signalNumber);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(data + QStringLiteral("/DATA/History.sqlite"));
            QVERIFY(db.open());
            QCOMPARE(TestSupport::SqlRows(connection, QStringLiteral("SELECT Kind FROM Entry WHERE Kind IN ('启动', '停止') ORDER BY Id")),
                     (QStringList{"启动", "停止"}));
        }
        QSqlDatabase::removeDatabase(connection);
    }
};

QTEST_GUILESS_MAIN(TstCommandLine)
#include "tst_command_line.moc"
