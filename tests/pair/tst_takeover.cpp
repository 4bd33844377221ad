// A standby pair as it is deployed: three network namespaces on one bridge (the platform with
// the switch's CPUs, machine a, machine b), a real keepalived with the shipped configuration and
// notify script on each machine, and a headless program on each (Role=pair, ServiceAddress the
// pair's address), both on one shared database. The platform asks for the group list every
// 10 ms; the working machine is taken away in the ways a machine fails, and what the platform
// and the switch saw is measured.
#include "net_lab.h"
#include "traffic_watch.h"

#include "support/pg_server.h"
#include "support/test_support.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <utility>

#include <sys/resource.h>

namespace {

const QString Subnet = QStringLiteral("10.77.0.");
const QHostAddress Platform(QStringLiteral("10.77.0.1"));
const QList<QHostAddress> SwitchCpus{QHostAddress(QStringLiteral("10.77.0.2")), QHostAddress(QStringLiteral("10.77.0.3"))};
const QString Service = QStringLiteral("10.77.0.100");
constexpr quint16 PlatformPort = 20099, ServicePlatformPort = 20011, ServiceSwitchPort = 12010, SwitchPort = 18196;
// The takeover the platform may notice at most, and how soon a stopped program must fail its check.
constexpr qint64 LongestGapMs = 2000;
constexpr qint64 CheckFailsWithinMs = 3000;
// The nice value of the pair's processes (root may raise them; see initTestCase).
constexpr int PairNice = -10;
// A group of the example site's directory with members, for the notification before a fault.
constexpr int NotifiedGroup = 5;

enum TFault { KillProgram, StopKeepalived, LinkDown };

struct TMachine
{
    QString Name;       // "a", "b": also its namespace's short name
    QString Address;
    int Priority = 0;
    QString Folder;     // its data folder: settings, key.dat, logs, keepalived's files
    QString Control;    // its control socket
    QProcess *Program = nullptr;
    QProcess *Keepalived = nullptr;
};

QString Ms(qint64 us)
{
    return QString::number(double(us) / 1000.0, 'f', 0);
}

} // namespace

class TstTakeover : public QObject
{
    Q_OBJECT

    QTemporaryDir Dir{QStringLiteral("/tmp/varnex-pair-XXXXXX")};
    std::unique_ptr<TNetLab> Lab;
    std::unique_ptr<TTrafficWatch> Watch;
    QString DatabaseUrl;
    TMachine Machines[2];
    QStringList Summary;
    int Notifications = 0;
    int Calls = 0;
    bool AnyFailed = false;

    static QString Varnex() { return QFileInfo(TestSupport::BuildPath(QStringLiteral("varnex"))).absoluteFilePath(); }

    QProcessEnvironment Environment(const TMachine &m) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID", "JOURNAL_STREAM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m.Folder + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m.Folder + QStringLiteral("/share"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m.Folder);
        return env;
    }

    // The program's status over its control socket, as varnex ctl prints it; empty when it
    // does not answer.
    QJsonObject Status(const TMachine &m) const
    {
        QProcess p;
        p.start(Varnex(), {QStringLiteral("ctl"), QStringLiteral("status"), QStringLiteral("--control"), m.Control});
        if (!p.waitForFinished(5000) || p.exitCode() != 0) {
            p.kill();
            p.waitForFinished();
            return {};
        }
        const QJsonObject said = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        return said.contains(QStringLiteral("status")) ? said.value(QStringLiteral("status")).toObject() : said;
    }
    QString Role(const TMachine &m) const { return Status(m).value(QStringLiteral("role")).toString(); }
    // Datagrams the program says it sent on both links since it started.
    static qint64 SentCount(const QJsonObject &status)
    {
        return qint64(status.value(QStringLiteral("platform_link")).toObject().value(QStringLiteral("sent")).toDouble()
                      + status.value(QStringLiteral("switch_link")).toObject().value(QStringLiteral("sent")).toDouble());
    }
    bool HoldsService(const TMachine &m) const
    {
        const TCommandResult shown = RunCommand(TNetLab::Program(QStringLiteral("ip")), {QStringLiteral("-n"), Lab->Name(m.Name), QStringLiteral("-4"),
                                                                      QStringLiteral("-o"), QStringLiteral("addr"), QStringLiteral("show"),
                                                                      QStringLiteral("dev"), QStringLiteral("eth0")});
        return shown.Output.contains(QStringLiteral(" %1/").arg(Service));
    }
    TMachine &Other(const TMachine &m) { return &m == &Machines[0] ? Machines[1] : Machines[0]; }

    void StartProgram(TMachine &m)
    {
        m.Program = Lab->Start(m.Name, Varnex(), {QStringLiteral("--headless"), QStringLiteral("--data-dir"), m.Folder},
                               m.Folder + QStringLiteral("/varnex.log"), Environment(m));
    }
    void StartKeepalived(TMachine &m)
    {
        m.Keepalived = Lab->Start(m.Name, QStringLiteral("keepalived"),
                                  {QStringLiteral("-f"), m.Folder + QStringLiteral("/keepalived.conf"), QStringLiteral("-p"),
                                   m.Folder + QStringLiteral("/keepalived.pid"), QStringLiteral("-r"),
                                   m.Folder + QStringLiteral("/vrrp.pid"), QStringLiteral("-c"),
                                   m.Folder + QStringLiteral("/checkers.pid"), QStringLiteral("--vrrp"),
                                   QStringLiteral("--dont-fork"), QStringLiteral("--log-console"), QStringLiteral("--log-detail"),
                                   QStringLiteral("--no-syslog")},
                                  m.Folder + QStringLiteral("/keepalived.log"), Environment(m));
    }

    // The shipped configuration with only what a site edits (addresses, interface, priority),
    // and the programs' places, which differ in a build folder from an installed system.
    QString KeepalivedConf(const TMachine &m, QString *why)
    {
        QFile shipped(TestSupport::SourcePath(QStringLiteral("share/keepalived/keepalived.conf")));
        if (!shipped.open(QIODevice::ReadOnly)) {
            *why = shipped.errorString();
            return {};
        }
        QString conf = QString::fromUtf8(shipped.readAll());
        const QString notify = QFileInfo(TestSupport::SourcePath(QStringLiteral("share/keepalived/varnex-notify"))).absoluteFilePath();
        const QList<QPair<QString, QString>> edits{
            {QStringLiteral("priority 250"), QStringLiteral("priority %1").arg(m.Priority)},
            {QStringLiteral("unicast_src_ip 192.168.0.111"), QStringLiteral("unicast_src_ip ") + m.Address},
            {QStringLiteral("192.168.0.112"), Other(m).Address},
            {QStringLiteral("192.168.0.110/24"), Service + QStringLiteral("/24")},
            {QStringLiteral("\"/usr/bin/varnex ctl check --data-dir /var/lib/varnex\""),
             QStringLiteral("\"%1 ctl check --control %2\"").arg(Varnex(), m.Control)},
            {QStringLiteral("\"/usr/share/varnex/keepalived/varnex-notify\""),
             QStringLiteral("\"%1 --varnex %2 --control %3\"").arg(notify, Varnex(), m.Control)},
        };
        for (const auto &[from, to] : edits) {
            if (!conf.contains(from)) {
                *why = QStringLiteral("the shipped keepalived.conf has no \"%1\" to edit").arg(from);
                return {};
            }
            conf.replace(from, to);
        }
        return conf;
    }

    QString WriteMachine(TMachine &m)
    {
        QDir().mkpath(m.Folder);
        QFile settings(m.Folder + QStringLiteral("/Zelvane.conf"));
        if (!settings.open(QIODevice::WriteOnly))
            return settings.errorString();
        settings.write(QStringList{QStringLiteral("CommIpAddress=") + Platform.toString(),
                                   QStringLiteral("CommIpPort=%1").arg(PlatformPort),
                                   QStringLiteral("CommRecIpPort=%1").arg(ServicePlatformPort),
                                   QStringLiteral("IpAddress=") + SwitchCpus[0].toString(),
                                   QStringLiteral("IpAddress1=") + SwitchCpus[1].toString(),
                                   QStringLiteral("IpPort=%1").arg(SwitchPort),
                                   QStringLiteral("RecIpPort=%1").arg(ServiceSwitchPort),
                                   QStringLiteral("CurrentKeyboard=3"),
                                   QStringLiteral("ifUse0=是"),
                                   QStringLiteral("Role=pair"),
                                   QStringLiteral("ServiceAddress=") + Service,
                                   QStringLiteral("ControlSocket=") + m.Control,
                                   QStringLiteral("DatabaseUrl=") + DatabaseUrl}
                           .join(QLatin1Char('\n'))
                           .toUtf8());
        settings.close();
        QFile::copy(TestSupport::SourcePath(QStringLiteral("share/examples/site/key.dat")), m.Folder + QStringLiteral("/key.dat"));
        QString why;
        const QString conf = KeepalivedConf(m, &why);
        if (conf.isEmpty())
            return why;
        QFile file(m.Folder + QStringLiteral("/keepalived.conf"));
        if (!file.open(QIODevice::WriteOnly))
            return file.errorString();
        file.write(conf.toUtf8());
        return QString();
    }

    QString BuildNetwork()
    {
        QString why;
        for (const QString &name : {QStringLiteral("p"), QStringLiteral("a"), QStringLiteral("b")})
            if (!Lab->Add(name, &why))
                return why;
        if (!Lab->Ip(QStringLiteral("p"), {QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("br0"), QStringLiteral("type"), QStringLiteral("bridge")}, &why)
            || !Lab->Ip(QStringLiteral("p"), {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("br0"), QStringLiteral("up")}, &why))
            return why;
        for (const QHostAddress &address : QList<QHostAddress>{Platform} + SwitchCpus)
            if (!Lab->Ip(QStringLiteral("p"), {QStringLiteral("addr"), QStringLiteral("add"), address.toString() + QStringLiteral("/24"), QStringLiteral("dev"), QStringLiteral("br0")}, &why))
                return why;
        for (const TMachine &m : Machines) {
            const QString port = QStringLiteral("to-") + m.Name;
            if (!TNetLab::IpHere({QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("eth0"), QStringLiteral("netns"), Lab->Name(m.Name),
                                  QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), port,
                                  QStringLiteral("netns"), Lab->Name(QStringLiteral("p"))}, &why)
                || !Lab->Ip(QStringLiteral("p"), {QStringLiteral("link"), QStringLiteral("set"), port, QStringLiteral("master"), QStringLiteral("br0"), QStringLiteral("up")}, &why)
                || !Lab->Ip(m.Name, {QStringLiteral("addr"), QStringLiteral("add"), m.Address + QStringLiteral("/24"), QStringLiteral("dev"), QStringLiteral("eth0")}, &why)
                || !Lab->Ip(m.Name, {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("eth0"), QStringLiteral("up")}, &why))
                return why;
        }
        return QString();
    }

    // Ready to start a case: one machine works and holds the address, the other waits.
    QString Pair(TMachine **master, TMachine **backup)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 20000) {
            const QString a = Role(Machines[0]), b = Role(Machines[1]);
            if ((a == QLatin1String("master")) != (b == QLatin1String("master")) && (a == QLatin1String("backup") || b == QLatin1String("backup"))) {
                *master = a == QLatin1String("master") ? &Machines[0] : &Machines[1];
                *backup = &Other(**master);
                if (HoldsService(**master) && !HoldsService(**backup))
                    return QString();
            }
            QTest::qWait(200);
        }
        return QStringLiteral("no pair of one master and one backup: a is %1, b is %2").arg(Role(Machines[0]), Role(Machines[1]));
    }

    // The history's entries written since since (local time as the history writes it).
    QStringList EntriesSince(const QString &since) const
    {
        TStorePlace place;
        QString why;
        TStoreUrl::Parse(DatabaseUrl, &place.Url, &why);
        return TestSupport::PlaceRows(place, QStringLiteral("SELECT Kind, Content, Outcome, At FROM Entry WHERE At >= '%1' ORDER BY Id").arg(since));
    }
    static QString HistoryTime(const QDateTime &at) { return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")); }
    // Where a case's history begins: now, once the pair is ready (the programs write the time
    // of this one clock, to the millisecond). No earlier: a 主用 entry from before, such as the
    // one of the pair's start just before the first case, is not this case's takeover.
    static QString CaseBegins() { return HistoryTime(QDateTime::currentDateTime()); }

    // Asserts and says what one phase measured; backupSentStatus < 0: not known from its status.
    // dialled: a phone call was made, so the switch's CPUs must have heard from the pair.
    void Judge(const QString &what, const TTrafficWatch::TFigures &f, qsizetype backupSentCaptured, qint64 backupSentStatus,
               bool gapLimited, bool dialled = false)
    {
        const QString line = QStringLiteral("%1: longest gap %2 ms, %3 of %4 requests lost (%5 outside the gap), "
                                            "replies from %6, switch link from %7, backup sent %8 (captured) / %9 (its status), "
                                            "%10 late replies, %11 answered twice")
                                 .arg(what, Ms(f.GapUs))
                                 .arg(f.Lost)
                                 .arg(f.Requests)
                                 .arg(f.LostOutsideGap)
                                 .arg(f.Sources.join(QLatin1Char(',')), f.SwitchSources.join(QLatin1Char(',')))
                                 .arg(backupSentCaptured)
                                 .arg(backupSentStatus < 0 ? QStringLiteral("-") : QString::number(backupSentStatus))
                                 .arg(f.Stale)
                                 .arg(f.Duplicates);
        qInfo().noquote() << line;
        Summary << line;
        QVERIFY2(f.Replies > 0, qPrintable(line));
        if (gapLimited)
            QVERIFY2(f.GapUs <= LongestGapMs * 1000, qPrintable(line));
        QVERIFY2(f.LostOutsideGap == 0, qPrintable(line));
        QVERIFY2(f.Duplicates == 0, qPrintable(line));
        QVERIFY2(f.Sources == QStringList{Service}, qPrintable(line));
        if (dialled)
            QVERIFY2(f.SwitchSources == QStringList{Service}, qPrintable(line));
        else
            QVERIFY2(f.SwitchSources.isEmpty() || f.SwitchSources == QStringList{Service}, qPrintable(line));
        QVERIFY2(backupSentCaptured == 0 && backupSentStatus <= 0, qPrintable(line));
    }

    // The notification's entries and the takeovers' since a case began: one each.
    void JudgeHistory(const QString &what, const QString &since, const QString &text, int takeovers)
    {
        const QStringList rows = EntriesSince(since);
        int notices = 0, masters = 0;
        for (const QString &row : rows) {
            const QStringList v = row.split(QLatin1Char('|'));
            if (v.value(1) == text)
                ++notices;
            else if (v.value(1).startsWith(QStringLiteral("主用")))
                ++masters;
        }
        const QString line = QStringLiteral("%1: history %2 entries for the notification, %3 for the takeover (%4)")
                                 .arg(what)
                                 .arg(notices)
                                 .arg(masters)
                                 .arg(rows.join(QStringLiteral("; ")));
        qInfo().noquote() << line;
        Summary << line;
        QVERIFY2(notices == 1, qPrintable(line));
        QVERIFY2(masters == takeovers, qPrintable(line));
    }

    // The platform's notification shortly before a fault, and the figures of the backup until then.
    QString Prelude(TMachine &backup, qint64 *sentCaptured, qint64 *sentStatus)
    {
        const qint64 from = TTrafficWatch::Now();
        const qint64 before = SentCount(Status(backup));
        QTest::qWait(1500);
        const QString text = QStringLiteral("第%1次切换前的通知").arg(++Notifications);
        Watch->SendVoice(NotifiedGroup, text, quint16(60000 + Notifications));
        QTest::qWait(500);
        *sentCaptured = Watch->SentBy(backup.Name, from).size();
        *sentStatus = SentCount(Status(backup)) - before;
        return text;
    }

    // The new master answers on for a while before the takeover is judged: a request it drops
    // after the gap is lost outside it. The next phase watches on from there without a pause.
    static void WatchAfterTakeover() { QTest::qWait(1000); }

    // A phone call while one machine works and the other waits: its keys reach the switch from
    // the pair's address (after the channel's eight seconds off-hook). Placed as soon as the old
    // master says backup: those eight seconds outlast its keepalived's two checks (rise 2) and
    // its move to BACKUP, so a machine that took the address back would do so inside the phase.
    void Dial()
    {
        Watch->SendCall(2001, 2005, quint16(61000 + ++Calls));
        QTRY_VERIFY_WITH_TIMEOUT(!Watch->Figures().SwitchSources.isEmpty(), 15000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString problem = TNetLab::Problem(); !problem.isEmpty())
            QSKIP(qPrintable(problem));
        // The pair's two machines are the site's own: no other work takes their CPU. Here the
        // test shares one machine with whatever else runs, and keepalived's adverts and checks,
        // the programs and the watch coming late would be measured as the takeover's time. So
        // everything started from here on (the watch's thread, the server, keepalived, the
        // programs and the checks they run) inherits a priority above the rest of the machine.
        if (::setpriority(PRIO_PROCESS, 0, PairNice) != 0)
            qWarning("setpriority(%d): %s", PairNice, strerror(errno));
        TNetLab::RemoveLeftOvers();
        // Cleared at the end: a start that failed shows the machines' logs too.
        AnyFailed = true;
        QVERIFY2(QFileInfo(Varnex()).isExecutable(), qPrintable(Varnex()));
        if (const QString problem = TPgServer::Shared().Problem(); !problem.isEmpty()) {
            if (qEnvironmentVariableIsSet("VARNEX_REQUIRE_POSTGRES"))
                QFAIL(qPrintable(problem));
            QSKIP(qPrintable(problem));
        }
        DatabaseUrl = TPgServer::Shared().NewDatabase();
        QVERIFY(!DatabaseUrl.isEmpty());
        if (qEnvironmentVariableIsSet("VARNEX_KEEP_PAIR_LOGS")) {
            Dir.setAutoRemove(false);
            qInfo().noquote() << QStringLiteral("the machines' folders and logs stay in ") + Dir.path();
        }
        Lab = std::make_unique<TNetLab>();
        // The first machine has the higher priority: it takes the address at the start.
        Machines[0] = {QStringLiteral("a"), Subnet + QStringLiteral("11"), 250, Dir.filePath(QStringLiteral("a")), Dir.filePath(QStringLiteral("a/varnex.ctl"))};
        Machines[1] = {QStringLiteral("b"), Subnet + QStringLiteral("12"), 240, Dir.filePath(QStringLiteral("b")), Dir.filePath(QStringLiteral("b/varnex.ctl"))};
        for (TMachine &m : Machines)
            if (const QString why = WriteMachine(m); !why.isEmpty())
                QFAIL(qPrintable(why));
        if (const QString why = BuildNetwork(); !why.isEmpty())
            QFAIL(qPrintable(why));

        // The shared directory, filled once from the first machine's settings.
        const QString folder = Machines[0].Folder;
        for (const QStringList &command : {QStringList{QStringLiteral("import"), TestSupport::SourcePath(QStringLiteral("share/examples/site/directory.csv"))},
                                           QStringList{QStringLiteral("groups"), QStringLiteral("init"), QStringLiteral("1"), QStringLiteral("8")}}) {
            QProcess p;
            p.setProcessEnvironment(Environment(Machines[0]));
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(Varnex(), command + QStringList{QStringLiteral("--data-dir"), folder});
            QVERIFY(p.waitForFinished(30000));
            QVERIFY2(p.exitCode() == 0, p.readAll().constData());
        }

        // The first machine alone takes the address; then the second joins as its backup.
        for (TMachine &m : Machines) {
            StartProgram(m);
            QTRY_COMPARE_WITH_TIMEOUT(Role(m), QStringLiteral("backup"), 15000);
            StartKeepalived(m);
            if (&m == &Machines[0])
                QTRY_COMPARE_WITH_TIMEOUT(Role(m), QStringLiteral("master"), 15000);
        }
        TTrafficWatch::TSetup setup;
        setup.PlatformNamespace = Lab->Name(QStringLiteral("p"));
        setup.Platform = Platform;
        setup.PlatformPort = PlatformPort;
        setup.Service = QHostAddress(Service);
        setup.ServicePlatformPort = ServicePlatformPort;
        setup.ServiceSwitchPort = ServiceSwitchPort;
        setup.SwitchCpus = SwitchCpus;
        setup.SwitchPort = SwitchPort;
        Watch = std::make_unique<TTrafficWatch>(setup);
        QString why;
        QVERIFY2(Watch->Start(&why), qPrintable(why));
        for (const TMachine &m : Machines)
            QVERIFY2(Watch->Capture(m.Name, Lab->Name(m.Name), QStringLiteral("eth0"), &why), qPrintable(why));
        TMachine *master = nullptr, *backup = nullptr;
        const QString problem = Pair(&master, &backup);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(master->Name, QStringLiteral("a"));
        AnyFailed = false;
    }

    void cleanupTestCase()
    {
        // Whatever the figures, everything this test made goes: processes, namespaces, server.
        const auto removeAll = qScopeGuard([this] {
            Watch.reset();
            Lab.reset();
        });
        if (!Summary.isEmpty())
            qInfo().noquote() << QStringLiteral("figures:\n  ") + Summary.join(QStringLiteral("\n  "));
        if (AnyFailed || qEnvironmentVariableIsSet("VARNEX_KEEP_PAIR_LOGS")) {
            for (const TMachine &m : Machines)
                for (const QString &log : {QStringLiteral("varnex.log"), QStringLiteral("keepalived.log")}) {
                    QFile f(m.Folder + QLatin1Char('/') + log);
                    if (f.open(QIODevice::ReadOnly))
                        qInfo().noquote() << QStringLiteral("--- %1 %2 (last 4 KB)\n").arg(m.Name, log) + QString::fromUtf8(f.readAll().right(4096));
                }
        }
    }

    void cleanup()
    {
        AnyFailed = AnyFailed || QTest::currentTestFailed();
    }

    // The working machine fails; the other takes over within the limit. Then the failed one
    // comes back, as backup, and neither takes the address back nor sends a datagram.
    void takeover_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("program killed") << int(KillProgram);
        QTest::newRow("keepalived stopped") << int(StopKeepalived);
        QTest::newRow("link down") << int(LinkDown);
    }
    void takeover()
    {
        QFETCH(int, fault);
        TMachine *master = nullptr, *backup = nullptr;
        const QString pairProblem = Pair(&master, &backup);
        QVERIFY2(pairProblem.isEmpty(), qPrintable(pairProblem));
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const QString since = CaseBegins();

        Watch->BeginPhase();
        qint64 backupCaptured = 0, backupStatus = 0;
        const QString text = Prelude(*backup, &backupCaptured, &backupStatus);
        // However this case ends, the old master is brought back, so the next case has a pair.
        bool restored = false;
        const auto restore = [this, fault, master, &restored] {
            if (std::exchange(restored, true))
                return true;
            switch (fault) {
            case KillProgram:
                StartProgram(*master);
                return true;
            case StopKeepalived:
                StartKeepalived(*master);
                return true;
            case LinkDown:
                return Lab->Ip(master->Name, {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("eth0"), QStringLiteral("up")}, nullptr);
            }
            return false;
        };
        const auto restoreAnyway = qScopeGuard([&restore] { restore(); });
        const QDateTime faultAt = QDateTime::currentDateTime();
        switch (fault) {
        case KillProgram:
            ::kill(pid_t(master->Program->processId()), SIGKILL);
            QVERIFY(master->Program->waitForFinished(5000));
            break;
        case StopKeepalived:
            master->Keepalived->terminate();
            QVERIFY(master->Keepalived->waitForFinished(10000));
            break;
        case LinkDown: {
            QString why;
            QVERIFY2(Lab->Ip(master->Name, {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("eth0"), QStringLiteral("down")}, &why),
                     qPrintable(why));
            break;
        }
        }
        QTRY_COMPARE_WITH_TIMEOUT(Role(*backup), QStringLiteral("master"), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(HoldsService(*backup), 5000);
        const qint64 toldAfter = faultAt.msecsTo(QDateTime::fromString(Status(*backup).value(QStringLiteral("role_since")).toString(), Qt::ISODateWithMs));
        WatchAfterTakeover();
        Judge(QStringLiteral("%1, %2 takes over from %3 (told master %4 ms after the fault)").arg(tag, backup->Name, master->Name).arg(toldAfter),
              Watch->Figures(), backupCaptured, backupStatus, true);
        if (QTest::currentTestFailed())
            return;

        // The old master comes back and waits: the address stays where it is.
        Watch->BeginPhase();
        const qint64 back = TTrafficWatch::Now();
        QVERIFY(restore());
        QTRY_COMPARE_WITH_TIMEOUT(Role(*master), QStringLiteral("backup"), 15000);
        const qint64 sentBefore = SentCount(Status(*master));
        Dial();
        if (QTest::currentTestFailed())
            return;
        QTest::qWait(1000);
        QCOMPARE(Role(*master), QStringLiteral("backup"));
        QVERIFY(HoldsService(*backup));
        QVERIFY(!HoldsService(*master));
        Judge(QStringLiteral("%1, %2 back as backup").arg(tag, master->Name), Watch->Figures(), Watch->SentBy(master->Name, back).size(),
              SentCount(Status(*master)) - sentBefore, true, true);
        if (QTest::currentTestFailed())
            return;
        JudgeHistory(tag, since, text, 1);
    }

    // A program that stops without ending (SIGSTOP: as hung as a program can be) fails its check
    // within 3 s, and keepalived moves the address away from it.
    void stoppedProgram()
    {
        TMachine *master = nullptr, *backup = nullptr;
        const QString pairProblem = Pair(&master, &backup);
        QVERIFY2(pairProblem.isEmpty(), qPrintable(pairProblem));
        const QString since = CaseBegins();
        Watch->BeginPhase();
        qint64 backupCaptured = 0, backupStatus = 0;
        const QString text = Prelude(*backup, &backupCaptured, &backupStatus);
        const pid_t pid = pid_t(master->Program->processId());
        const auto resume = qScopeGuard([pid] { ::kill(pid, SIGCONT); });
        QElapsedTimer stopped;
        ::kill(pid, SIGSTOP);
        stopped.start();
        qint64 failedAfter = -1;
        while (stopped.elapsed() < 10000) {
            const TCommandResult check = RunCommand(Varnex(), {QStringLiteral("ctl"), QStringLiteral("check"), QStringLiteral("--control"), master->Control}, 5000);
            if (check.Code != 0) {
                failedAfter = stopped.elapsed();
                break;
            }
        }
        const QString checkLine = QStringLiteral("program stopped: varnex ctl check failed after %1 ms").arg(failedAfter);
        qInfo().noquote() << checkLine;
        Summary << checkLine;
        QVERIFY2(failedAfter >= 0 && failedAfter <= CheckFailsWithinMs, qPrintable(checkLine));
        QTRY_VERIFY_WITH_TIMEOUT(HoldsService(*backup), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!HoldsService(*master), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(Role(*backup), QStringLiteral("master"), 5000);
        const QString movedLine = QStringLiteral("program stopped: the address moved %1 ms after SIGSTOP").arg(stopped.elapsed());
        qInfo().noquote() << movedLine;
        Summary << movedLine;
        WatchAfterTakeover();
        // A stopped program's check takes up to a second more than a dead one's: its gap is
        // reported, the takeover limit is the dead and the unplugged machine's.
        Judge(QStringLiteral("program stopped, %1 takes over from %2").arg(backup->Name, master->Name), Watch->Figures(), backupCaptured,
              backupStatus, false);
        if (QTest::currentTestFailed())
            return;

        // Woken again, it must not answer what waited for it, nor take the address back.
        Watch->BeginPhase();
        const qint64 woken = TTrafficWatch::Now();
        ::kill(pid, SIGCONT);
        QTRY_COMPARE_WITH_TIMEOUT(Role(*master), QStringLiteral("backup"), 15000);
        Dial();
        if (QTest::currentTestFailed())
            return;
        QTest::qWait(1000);
        QVERIFY(HoldsService(*backup));
        // Its own count also holds what it sent as master before it stopped: the capture tells.
        Judge(QStringLiteral("program stopped, %1 woken as backup").arg(master->Name), Watch->Figures(), Watch->SentBy(master->Name, woken).size(),
              -1, true, true);
        if (QTest::currentTestFailed())
            return;
        JudgeHistory(QStringLiteral("program stopped"), since, text, 1);
    }
};

QTEST_GUILESS_MAIN(TstTakeover)
#include "tst_takeover.moc"
