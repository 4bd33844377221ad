#include "control/control_client.h"
#include "platform_link/ldtx_frame.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <sys/resource.h>
#include <unistd.h>

// `varnex --headless` and `varnex web` as the service runs them, two processes: whatever is done
// to the web face's port leaves the link to the platform and the control socket answering, and
// the web process's own memory and descriptors bounded.
class TstWebProcess : public QObject
{
    Q_OBJECT
    QTemporaryDir Dir;
    QUdpSocket Platform;
    QProcess Main;
    QProcess Web;
    QString Folder;
    QString Socket;
    int PlatformPort = 0; // where the program takes requests
    quint16 WebPort = 0;

    // Generous: the web process runs in about 35 MB; this is a safety check, not a figure.
    static constexpr qint64 RssBoundKb = 200 * 1024;

    QProcessEnvironment Environment() const { return TestSupport::ProgramEnvironment(Dir); }
    bool StartMain()
    {
        Main.setProcessEnvironment(Environment());
        Main.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Main.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                   {QStringLiteral("--headless"), QStringLiteral("--data-dir"), Folder, QStringLiteral("--control"), Socket});
        return QTest::qWaitFor([this] { return ControlAnswers(); }, 15000);
    }
    bool ControlAnswers() const
    {
        const TControlClient::TAnswer answer = TControlClient::Ask(Socket, QJsonObject{{"command", "status"}});
        return answer.Reached && answer.Reply.value(QStringLiteral("ok")).toBool();
    }
    bool PlatformAnswers()
    {
        return TestSupport::Ask(Platform, PlatformPort, LdtxFrame::GroupListQuery, QByteArray(), 3) == int(LdtxFrame::GroupListQuery);
    }
    int WebStatus(const QString &path = QStringLiteral("/api/status"))
    {
        return TestSupport::Http("GET", QStringLiteral("http://127.0.0.1:%1%2").arg(WebPort).arg(path)).Status;
    }
    static qint64 Field(qint64 pid, const char *name)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith(name))
                return line.mid(qstrlen(name)).trimmed().split(' ').first().toLongLong();
        return -1;
    }
    static qint64 RssKb(qint64 pid) { return Field(pid, "VmRSS:"); }
    static qint64 Descriptors(qint64 pid) { return QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::Files | QDir::System).size(); }
    // The TCP ports a process listens on, from its sockets' inodes and the kernel's tables.
    static QList<int> ListeningPorts(qint64 pid)
    {
        QSet<QByteArray> inodes;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString &fd : fds.entryList(QDir::Files | QDir::System)) {
            char target[64] = {};
            const ssize_t length = readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1);
            const QByteArray link(target, length > 0 ? length : 0);
            if (link.startsWith("socket:["))
                inodes.insert(link.mid(8).chopped(1));
        }
        QList<int> ports;
        for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
            QFile file(QString::fromLatin1(table));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &line : file.readAll().split('\n').mid(1)) {
                const QList<QByteArray> f = line.simplified().split(' ');
                if (f.size() > 9 && f[3] == "0A" && inodes.contains(f[9]))
                    ports << f[1].split(':').last().toInt(nullptr, 16);
            }
        }
        return ports;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(Dir.isValid());
        // The flood below holds more sockets than a default soft limit allows this test.
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
        setrlimit(RLIMIT_NOFILE, &limit);
        QVERIFY2(limit.rlim_cur >= 1300, "the test needs 1300 descriptors");
        QVERIFY(Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        const QList<int> ports = TestSupport::FreeUdpPorts(3);
        PlatformPort = ports[0];
        WebPort = quint16(TestSupport::FreeTcpPort());
        Folder = Dir.filePath(QStringLiteral("data"));
        Socket = Dir.filePath(QStringLiteral("varnex.ctl"));
        QDir().mkpath(Folder);
        QFile settings(QDir(Folder).filePath(QStringLiteral("Zelvane.conf")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringList{QStringLiteral("CommIpAddress=127.0.0.1"), QStringLiteral("CommIpPort=%1").arg(Platform.localPort()),
                                   QStringLiteral("CommRecIpPort=%1").arg(PlatformPort), QStringLiteral("RecIpPort=%1").arg(ports[1]),
                                   QStringLiteral("IpAddress=127.0.0.1"), QStringLiteral("IpPort=%1").arg(ports[2]),
                                   QStringLiteral("HttpAddress=127.0.0.1:%1").arg(WebPort)}
                           .join(QLatin1Char('\n'))
                           .toUtf8());
        settings.close();
        QVERIFY(StartMain());
        Web.setProcessEnvironment(Environment());
        Web.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Web.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                  {QStringLiteral("web"), QStringLiteral("--data-dir"), Folder, QStringLiteral("--control"), Socket});
        QTRY_COMPARE_WITH_TIMEOUT(WebStatus(), 200, 15000);
        QVERIFY(PlatformAnswers());
        qInfo("web process at rest: VmRSS %lld kB, %lld descriptors", RssKb(Web.processId()), Descriptors(Web.processId()));
    }
    void cleanupTestCase()
    {
        for (QProcess *process : {&Web, &Main}) {
            process->terminate();
            if (!process->waitForFinished(10000))
                process->kill();
        }
    }

    // The program that answers the platform listens on no TCP port at all; the web process does.
    void onlyTheWebProcessListens()
    {
        QCOMPARE(ListeningPorts(Main.processId()), QList<int>());
        QCOMPARE(ListeningPorts(Web.processId()), QList<int>{WebPort});
    }

    // Idle connections by the thousand (once enough to take every descriptor of a process that
    // had the web face inside it): the program answers the platform and its control socket
    // throughout; the web process holds a bounded number of them, and serves again once they go.
    void idleConnectionFlood()
    {
        std::vector<std::unique_ptr<QTcpSocket>> flood;
        for (int i = 0; i < 1100; ++i) {
            flood.push_back(std::make_unique<QTcpSocket>());
            flood.back()->connectToHost(QHostAddress::LocalHost, WebPort);
        }
        QTest::qWait(1500);
        const qint64 descriptors = Descriptors(Web.processId());
        const qint64 rss = RssKb(Web.processId());
        int open = 0;
        for (const auto &socket : flood)
            open += socket->state() == QAbstractSocket::ConnectedState;
        qInfo("1100 idle connections: %d kept open by the web process, which holds %lld descriptors, VmRSS %lld kB", open,
              descriptors, rss);
        QVERIFY(PlatformAnswers());
        QVERIFY(ControlAnswers());
        QVERIFY2(descriptors < 400, qPrintable(QString::number(descriptors)));
        QVERIFY2(rss < RssBoundKb, qPrintable(QString::number(rss)));
        flood.clear();
        QTRY_COMPARE_WITH_TIMEOUT(WebStatus(), 200, 5000);
    }

    // A header that never ends: refused once the connection's memory is full, the web process
    // stays small, and the link never noticed.
    void endlessHeader()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, WebPort);
        QVERIFY(socket.waitForConnected(3000));
        socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(WebPort) + "\r\nX-Endless: ");
        // Small pieces, read between them: the answer must be read before the server's close
        // of a connection with bytes still coming resets it (which drops what was not read).
        const QByteArray chunk(4 * 1024, 'a');
        qint64 sent = 0;
        qint64 peak = 0;
        QByteArray answer;
        while (sent < 64ll << 20 && socket.state() == QAbstractSocket::ConnectedState && !answer.contains("\r\n")) {
            socket.write(chunk);
            sent += chunk.size();
            socket.waitForBytesWritten(50);
            if (socket.waitForReadyRead(5))
                answer += socket.read(4096);
            if (sent % (1 << 20) == 0)
                peak = std::max(peak, RssKb(Web.processId()));
        }
        if (socket.isOpen())
            answer += socket.readAll();
        peak = std::max(peak, RssKb(Web.processId()));
        qInfo("endless header: answered \"%s\" after %lld bytes queued; web VmRSS at most %lld kB", answer.left(answer.indexOf("\r\n")).constData(),
              sent, peak);
        QVERIFY2(answer.startsWith("HTTP/1.1 431") || answer.startsWith("HTTP/1.1 400"), answer.left(100).constData());
        QVERIFY2(peak < RssBoundKb, qPrintable(QString::number(peak)));
        QVERIFY(PlatformAnswers());
        QCOMPARE(WebStatus(), 200);
    }

    // Live feeds asked for by the hundred from one address: a few are opened, the rest refused;
    // the web process stays small.
    void manyFeeds()
    {
        const QByteArray upgrade = "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(WebPort)
            + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
              "Sec-WebSocket-Version: 13\r\nOrigin: http://127.0.0.1:" + QByteArray::number(WebPort) + "\r\n\r\n";
        std::vector<std::unique_ptr<QTcpSocket>> feeds;
        for (int i = 0; i < 200; ++i) {
            feeds.push_back(std::make_unique<QTcpSocket>());
            feeds.back()->connectToHost(QHostAddress::LocalHost, WebPort);
            feeds.back()->write(upgrade);
        }
        QMap<QByteArray, int> answers;
        QTest::qWait(2000);
        for (const auto &socket : feeds) {
            const QByteArray got = socket->readAll();
            answers[got.left(12)]++;
        }
        const qint64 rss = RssKb(Web.processId());
        qInfo() << "200 live feeds asked from one address:" << answers << "web VmRSS" << rss << "kB";
        QVERIFY2(answers.value("HTTP/1.1 101") >= 1 && answers.value("HTTP/1.1 101") <= 4, qPrintable(QString::number(answers.value("HTTP/1.1 101"))));
        QVERIFY(rss < RssBoundKb);
        QVERIFY(PlatformAnswers());
        QVERIFY(ControlAnswers());
        feeds.clear();
        QTRY_COMPARE_WITH_TIMEOUT(WebStatus(), 200, 5000);
    }

    // The program stopped: the web process serves on and says so; started again, it is heard.
    void programStoppedAndStarted()
    {
        Main.terminate();
        QVERIFY(Main.waitForFinished(10000));
        QTRY_COMPARE_WITH_TIMEOUT(WebStatus(), 503, 8000);
        const auto answer = TestSupport::Http("GET", QStringLiteral("http://127.0.0.1:%1/api/status").arg(WebPort));
        QCOMPARE(QJsonDocument::fromJson(answer.Body)[QStringLiteral("message")].toString(), QStringLiteral("主程序未运行"));
        QCOMPARE(WebStatus(QStringLiteral("/")), 200);
        QCOMPARE(WebStatus(QStringLiteral("/api/history")), 200);
        QVERIFY(StartMain());
        QTRY_COMPARE_WITH_TIMEOUT(WebStatus(), 200, 8000);
        QVERIFY(PlatformAnswers());
    }
};

QTEST_GUILESS_MAIN(TstWebProcess)
#include "tst_web_process.moc"
