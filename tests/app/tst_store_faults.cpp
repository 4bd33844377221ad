#include "platform_link/ldtx_frame.h"
#include "support/pg_server.h"
#include "support/test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <map>

namespace {

// A varnex --headless of its own on a data folder of the test, keeping the directory and the
// history on the test's server; this test's socket plays the platform.
struct TService
{
    QTemporaryDir Dir;
    QString Data = Dir.filePath(QStringLiteral("data"));
    QString Url;
    QUdpSocket Platform;
    QList<int> Ports;
    QProcess Process;
    QByteArray Said;
    std::map<uint16_t, QByteArray> Replies; // by message id: the reply's payload

    explicit TService(QString url) : Url(std::move(url))
    {
        Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Ports = TestSupport::FreeUdpPorts(2);
        QDir().mkpath(Data);
        QFile settings(Data + QStringLiteral("/Zelvane.conf"));
        if (settings.open(QIODevice::WriteOnly))
            settings.write(QStringList{QStringLiteral("CommIpAddress=127.0.0.1"), QStringLiteral("CommIpPort=%1").arg(Platform.localPort()),
                                       QStringLiteral("CommRecIpPort=%1").arg(Ports[0]), QStringLiteral("RecIpPort=%1").arg(Ports[1]),
                                       QStringLiteral("HttpAddress="), QStringLiteral("ifUse0=是")}
                               .join(QLatin1Char('\n'))
                               .toUtf8());
    }
    ~TService() { Kill(); }

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID", "JOURNAL_STREAM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), Dir.filePath(QStringLiteral("share")));
        // A control socket of this test's own: programs of other tests run meanwhile.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), TestSupport::RuntimeFolder(Dir));
        return env;
    }
    // Runs a command of the program on the same folder and server to its end; its exit code.
    int Command(const QStringList &arguments)
    {
        QProcess p;
        p.setProcessEnvironment(Environment());
        p.setWorkingDirectory(Data);
        p.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                arguments + QStringList{QStringLiteral("--data-dir"), Data, QStringLiteral("--database"), Url});
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        Said += p.readAllStandardOutput() + p.readAllStandardError();
        return p.exitCode();
    }
    // Starts the service; whether it said it started within timeoutMs (0: do not wait).
    bool Start(int timeoutMs = 20000)
    {
        Said.clear();
        Process.setProcessEnvironment(Environment());
        Process.setWorkingDirectory(Data);
        Process.setProcessChannelMode(QProcess::MergedChannels);
        Process.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                      {QStringLiteral("--headless"), QStringLiteral("--data-dir"), Data, QStringLiteral("--database"), Url});
        if (!Process.waitForStarted(10000))
            return false;
        return timeoutMs == 0 || QTest::qWaitFor([this] { return Output().contains(QStringLiteral("Varnex 已启动")); }, timeoutMs);
    }
    QString Output()
    {
        Said += Process.readAll();
        return QString::fromUtf8(Said);
    }
    void Send(uint8_t type, const QByteArray &payload, uint16_t id)
    {
        Platform.writeDatagram(LdtxFrame::Build(payload, type, 0, id, QStringLiteral("CRC-16/MODBUS"))->Bytes, QHostAddress::LocalHost,
                               quint16(Ports[0]));
    }
    // Takes the replies that have come.
    void Take()
    {
        while (Platform.hasPendingDatagrams()) {
            const QByteArray reply = Platform.receiveDatagram().data();
            if (reply.size() > 12)
                Replies[uint16_t(uint8_t(reply[6]) | uint8_t(reply[7]) << 8)] = reply.mid(10, reply.size() - 12);
        }
    }
    bool Answered(uint16_t id)
    {
        Take();
        return Replies.count(id) != 0;
    }
    void Kill()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished();
        }
    }
    QStringList Rows(const QString &sql) const
    {
        TStorePlace place;
        QString why;
        if (!TStoreUrl::Parse(Url, &place.Url, &why))
            return {why};
        return TestSupport::PlaceRows(place, sql);
    }
    QString SpoolFile() const { return Data + QStringLiteral("/DATA/History.spool.jsonl"); }

};

} // namespace

// The program as a service meets a store server that hangs or is not there yet: it stops in
// time and keeps what it could not write, and what comes before the server does is neither lost
// nor carried out against a directory not read yet.
class TstStoreFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        const QString problem = TPgServer::Shared().Problem();
        if (!problem.isEmpty()) {
            if (qEnvironmentVariableIsSet("VARNEX_REQUIRE_POSTGRES"))
                QFAIL(qPrintable(problem));
            QSKIP(qPrintable(problem));
        }
    }

    // A row the server refuses because a statement ran out of time, or because another
    // program's lock was not released in time, ends the whole import as every other failure
    // of the store does: nothing is stored, and the command says so.
    void importIsAllOrNothing_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("statement timeout") << "57014";
        QTest::newRow("lock timeout") << "55P03";
    }
    void importIsAllOrNothing()
    {
        QFETCH(QString, state);
        TService service(TPgServer::Shared().NewDatabase());
        QCOMPARE(service.Command({QStringLiteral("import"),
                                  TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.csv"))}),
                 0);
        // The server's own refusal of one row, with its state, and no word from this test.
        QCOMPARE(service.Rows(QStringLiteral(
                     "CREATE FUNCTION refuse_one() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN IF NEW.TelNum = 3050 THEN"
                     " RAISE EXCEPTION 'refused' USING ERRCODE = '%1'; END IF; RETURN NEW; END$$").arg(state)),
                 QStringList());
        QCOMPARE(service.Rows(QStringLiteral("CREATE TRIGGER refuse_one BEFORE INSERT ON TelNumber FOR EACH ROW EXECUTE FUNCTION refuse_one()")),
                 QStringList());
        const QString sheet = service.Dir.filePath(QStringLiteral("numbers.csv"));
        QFile file(sheet);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("序号,分机号码,分机名称,安装地址,所属组号1,所属组号2,所属组号3,所属组号4,所属组号5,所属组号6,所属组号7,所属组号8,状态,备注\n");
        for (int i = 0; i < 100; ++i)
            file.write(QStringLiteral("%1,%2,井下%2,,9,,,,,,,,0,\n").arg(i + 1).arg(3000 + i).toUtf8());
        file.close();
        service.Said.clear();
        QVERIFY2(service.Command({QStringLiteral("import"), sheet}) != 0, service.Said.constData());
        QVERIFY2(service.Rows(QStringLiteral("SELECT count(*) FROM TelNumber WHERE TelNum >= 3000")) == QStringList{"0"},
                 service.Said.constData());
        QVERIFY2(QString::fromUtf8(service.Said).contains(QStringLiteral("未导入任何记录")), service.Said.constData());
    }

    // Two group initialisations at once on one server: the one that loses the race on the
    // sequence numbers says how many groups it wrote itself (none), not how many are there.
    void groupsInitLosingARaceSaysWhatItWrote()
    {
        TService service(TPgServer::Shared().NewDatabase());
        QCOMPARE(service.Command({QStringLiteral("groups"), QStringLiteral("init"), QStringLiteral("100"), QStringLiteral("100")}), 0);
        // The command's first row waits, inside its insert, while this test holds a lock: the
        // other program's groups are committed in that moment.
        service.Rows(QStringLiteral("CREATE FUNCTION hold_first() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN"
                                    " PERFORM pg_advisory_xact_lock_shared(42); RETURN NEW; END$$"));
        service.Rows(QStringLiteral("CREATE TRIGGER hold_first BEFORE INSERT ON \"Group\" FOR EACH ROW EXECUTE FUNCTION hold_first()"));
        TStorePlace place;
        QString why;
        QVERIFY(TStoreUrl::Parse(service.Url, &place.Url, &why));
        {
            QSqlDatabase other = place.Add(QStringLiteral("other-program"), QStringLiteral("test"), false, 1000);
            QVERIFY2(other.open(), qPrintable(other.lastError().text()));
            QSqlQuery q(other);
            QVERIFY(q.exec(QStringLiteral("SELECT pg_advisory_lock(42)")));
            QProcess command;
            command.setProcessChannelMode(QProcess::MergedChannels);
            command.setProcessEnvironment(service.Environment());
            command.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                          {QStringLiteral("groups"), QStringLiteral("init"), QStringLiteral("1"), QStringLiteral("51"),
                           QStringLiteral("--data-dir"), service.Data, QStringLiteral("--database"), service.Url});
            QVERIFY(command.waitForStarted(10000));
            QVERIFY2(QTest::qWaitFor([&] {
                return q.exec(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'advisory'"))
                    && q.next() && q.value(0).toInt() > 0;
            }, 10000), command.readAll().constData());
            // The other program: groups 1 to 51 on the same sequence numbers, committed.
            QVERIFY2(q.exec(QStringLiteral("INSERT INTO \"Group\"(GroupNum, sequence, GroupName)"
                                           " SELECT n, n + 1, n || '组' FROM generate_series(1, 51) n")),
                     qPrintable(q.lastError().text()));
            QVERIFY(q.exec(QStringLiteral("SELECT pg_advisory_unlock(42)")));
            QVERIFY(command.waitForFinished(20000));
            const QString said = QString::fromUtf8(command.readAll());
            QCOMPARE(command.exitCode(), 1);
            QVERIFY2(!said.contains(QStringLiteral("已写入 51")), qPrintable(said));
            QVERIFY2(said.contains(QStringLiteral("未写入任何组")), qPrintable(said));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other-program"));
        QCOMPARE(service.Rows(QStringLiteral("SELECT count(*) FROM \"Group\" WHERE GroupNum <= 51")), QStringList{"51"});
    }

    // A server that hangs (stopped, as a cut network looks) while calls come: each is still
    // answered, SIGTERM ends the program within 5 s with a line that says how many entries
    // went where, and the next start forwards them, each once, the stop's entry too.
    void hungServerStopsInTimeAndKeepsEntries()
    {
        TService service(TPgServer::Shared().NewDatabase());
        QVERIFY(service.Start());
        service.Send(LdtxFrame::PhoneCall, TestSupport::Call(9000, 2001), 1);
        QTRY_COMPARE_WITH_TIMEOUT(service.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '电话拨打'")), QStringList{"1"}, 10000);

        const auto resume = qScopeGuard([] { TPgServer::Shared().Pause(false); });
        QVERIFY(TPgServer::Shared().Pause(true));
        constexpr int Calls = 20;
        for (uint16_t id = 2; id < 2 + Calls; ++id) {
            service.Send(LdtxFrame::PhoneCall, TestSupport::Call(9000, 2001), id);
            QVERIFY2(QTest::qWaitFor([&] { return service.Answered(id); }, 3000), qPrintable(QString::number(id)));
        }
        QElapsedTimer stopping;
        stopping.start();
        ::kill(pid_t(service.Process.processId()), SIGTERM);
        QVERIFY2(service.Process.waitForFinished(5000), qPrintable(service.Output()));
        const QString said = service.Output();
        QCOMPARE(service.Process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.Process.exitCode(), 0);
        QVERIFY2(said.contains(QStringLiteral("已暂存到")) && said.contains(service.SpoolFile()), qPrintable(said));
        QVERIFY(QFile::exists(service.SpoolFile()));
        qInfo("SIGTERM to exit with the server stopped: %lld ms", stopping.elapsed());

        QVERIFY(TPgServer::Shared().Pause(false));
        QVERIFY(service.Start());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(service.SpoolFile()), 15000);
        QCOMPARE(service.Rows(QStringLiteral("SELECT count(*), count(DISTINCT MessageId) FROM Entry WHERE Kind = '电话拨打'")),
                 QStringList{QStringLiteral("%1|%1").arg(Calls + 1)});
        QCOMPARE(service.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '停止'")), QStringList{"1"});
        ::kill(pid_t(service.Process.processId()), SIGTERM);
        QVERIFY(service.Process.waitForFinished(5000));
        QCOMPARE(service.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '电话拨打'")), QStringList{QString::number(Calls + 1)});
    }

    // Started while the server is down: calls in the first seconds all get their entries once
    // it is up, and a group's voice notification sent before the directory could be read is
    // carried out with the group's members when it is, not refused as having none.
    void serverDownAtStart()
    {
        TService service(TPgServer::Shared().NewDatabase());
        QCOMPARE(service.Command({QStringLiteral("import"),
                                  TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.csv"))}),
                 0);
        const QStringList members = service.Rows(QStringLiteral(
            "SELECT TelNum FROM TelNumber WHERE '1' IN (GroupNo1, GroupNo2, GroupNo3, GroupNo4, GroupNo5, GroupNo6, GroupNo7, GroupNo8)"
            " ORDER BY sequence"));
        QVERIFY(!members.isEmpty());

        const auto restart = qScopeGuard([] { TPgServer::Shared().Start(); });
        QVERIFY(TPgServer::Shared().Stop());
        QVERIFY(service.Start(0));
        // Sent from the program's first moment on, while the server is still down: those that
        // came before the port was bound are not the program's to record.
        // Few enough that the calls they push aside leave room in the channel's queue.
        constexpr int Calls = 10;
        // The notification goes once a call is answered (the port is bound), the server still
        // down: on a busy machine the program takes longer than the first calls to listen, and
        // a notification sent before that is lost on the way, not by the program.
        const auto anyAnswered = [&service] {
            for (uint16_t id = 1; id <= Calls; ++id)
                if (service.Answered(id))
                    return true;
            return false;
        };
        bool notified = false;
        const auto notify = [&service, &notified] {
            service.Send(LdtxFrame::VoiceNotify, TestSupport::VoiceToGroup(1, QStringLiteral("drill"), 1), 1000);
            notified = true;
        };
        for (uint16_t id = 1; id <= Calls; ++id) {
            if (id >= 3 && !notified && anyAnswered())
                notify();
            service.Send(LdtxFrame::PhoneCall, TestSupport::Call(9000, 2001), id);
            QTest::qWait(300);
        }
        if (!notified) {
            QTRY_VERIFY2_WITH_TIMEOUT(anyAnswered(), qPrintable(service.Output()), 15000);
            notify();
        }
        QVERIFY(TPgServer::Shared().Start());
        QTRY_VERIFY2_WITH_TIMEOUT(service.Answered(1000), qPrintable(service.Output()), 15000);
        // The reply names the group's members.
        QCOMPARE(int(uint8_t(service.Replies[1000].at(0))), int(members.size()));
        QStringList answered;
        for (uint16_t id = 1; id <= Calls; ++id)
            if (service.Answered(id))
                answered << QString::number(id);
        QVERIFY2(answered.size() >= Calls / 2, qPrintable(answered.join(QLatin1Char(' '))));
        QTRY_COMPARE_WITH_TIMEOUT(service.Rows(QStringLiteral("SELECT DISTINCT MessageId FROM Entry WHERE Kind = '电话拨打' ORDER BY MessageId")),
                                  answered, 15000);
        // Offered to the channel with the group's numbers: started, or queued behind the call
        // that holds the channel.
        QTRY_VERIFY2_WITH_TIMEOUT(service.Rows(QStringLiteral("SELECT Numbers FROM Entry WHERE Kind = '语音通知'"
                                                              " AND Outcome IN ('已启动', '排队')"))
                                      == QStringList{members.join(QLatin1Char(','))},
                                  qPrintable(service.Rows(QStringLiteral("SELECT Outcome, Numbers FROM Entry WHERE Kind = '语音通知'")).join(QLatin1Char('\n'))
                                             + service.Output()),
                                  15000);
        QVERIFY2(service.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '语音通知'")) == QStringList{"1"},
                 qPrintable(service.Rows(QStringLiteral("SELECT Outcome, Numbers FROM Entry WHERE Kind = '语音通知'")).join(QLatin1Char('\n'))));
        ::kill(pid_t(service.Process.processId()), SIGTERM);
        QVERIFY(service.Process.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(TstStoreFaults)
#include "tst_store_faults.moc"
