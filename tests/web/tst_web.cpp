#include "app/varnex_core.h"
#include "directory/directory.h"
#include "platform_link/ldtx_frame.h"
#include "support/test_support.h"
#include "web/web_server.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>
#include <QUdpSocket>
#include <QWebSocket>

namespace {

// A program core with its web face on a free loopback port (or the address a test gives), and
// a platform socket of this test.
struct TProgram
{
    QTemporaryDir Dir;
    QUdpSocket Platform;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;
    std::unique_ptr<TWebServer> Web;

    explicit TProgram(const QStringList &settings = {})
    {
        Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Core = TestSupport::StartCore(Dir, QStringList{QStringLiteral("CommIpPort=%1").arg(Platform.localPort()),
                                                       QStringLiteral("ifUse0=是")} + settings,
                                      &Player);
        // Group 5 with one extension, so a notification to it starts on channel 1.
        Core->Directory().AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"5"}, QStringLiteral("0"), {});
        Core->Directory().Query().Execute(QStringLiteral("insert into \"Group\"(GroupNum, sequence, GroupName) values (5, 1, '一采区')"));
        TestSupport::CopyCaughtUp(Core->Directory());
        Core->Status().Start();
        Web = std::make_unique<TWebServer>(Core->Status(), Core->History());
    }
    bool Listen(const QString &address = QStringLiteral("127.0.0.1:0"), const QString &token = QString())
    {
        QString why;
        const bool ok = Web->Listen(address, token, &why);
        if (!ok)
            qWarning() << why;
        return ok;
    }
    QString Url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(Web->Port()).arg(path); }
    TestSupport::THttpAnswer Get(const QString &path, const QList<QPair<QByteArray, QByteArray>> &headers = {})
    {
        return TestSupport::Http("GET", Url(path), headers);
    }
    QJsonObject Json(const QString &path)
    {
        return QJsonDocument::fromJson(Get(path).Body).object();
    }
    int Ask(uint8_t type, const QByteArray &payload, uint16_t id)
    {
        return TestSupport::Ask(Platform, Core->Config().CommRecIpPort, type, payload, id);
    }
    // The published snapshot made anew, as its timer would.
    void Refresh() { Core->Status().Refresh(); }
};

QByteArray VoiceToGroup(int group, const QString &text, int count)
{
    return QByteArray(1, char(0)) + LdtxFrame::Le32(group) + char(2) + text.toUtf8() + char(count);
}

// What a raw socket gets back for bytes it sends: the status line, or empty when the
// connection was closed without one.
QByteArray RawAnswer(quint16 port, const QByteArray &bytes)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return "no connection";
    socket.write(bytes);
    QByteArray got;
    (void)QTest::qWaitFor([&] {
        got += socket.readAll();
        return got.contains("\r\n") || socket.state() != QAbstractSocket::ConnectedState;
    }, 5000);
    got += socket.readAll();
    return got.left(got.indexOf("\r\n"));
}

const QStringList Paths{QStringLiteral("/"), QStringLiteral("/api/status"), QStringLiteral("/api/history"),
                        QStringLiteral("/metrics")};

} // namespace

class TstWeb : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Beyond loopback every path asks for the token, in the header or the address; on loopback
    // nothing is asked.
    void tokenRule_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("status");
        QTest::newRow("loopback, nothing given") << "127.0.0.1:0" << "" << QByteArray() << "" << 200;
        QTest::newRow("loopback with a token set, nothing given") << "127.0.0.1:0" << "s3cret" << QByteArray() << "" << 200;
        QTest::newRow("every address, nothing given") << "0.0.0.0:0" << "s3cret" << QByteArray() << "" << 401;
        QTest::newRow("every address, header") << "0.0.0.0:0" << "s3cret" << QByteArray("Bearer s3cret") << "" << 200;
        QTest::newRow("every address, query") << "0.0.0.0:0" << "s3cret" << QByteArray() << "token=s3cret" << 200;
        QTest::newRow("every address, wrong header") << "0.0.0.0:0" << "s3cret" << QByteArray("Bearer s3cre") << "" << 401;
        QTest::newRow("every address, longer header") << "0.0.0.0:0" << "s3cret" << QByteArray("Bearer s3crett") << "" << 401;
        QTest::newRow("every address, not bearer") << "0.0.0.0:0" << "s3cret" << QByteArray("Basic s3cret") << "" << 401;
        QTest::newRow("every address, wrong query") << "0.0.0.0:0" << "s3cret" << QByteArray() << "token=S3CRET" << 401;
        QTest::newRow("every address, empty query") << "0.0.0.0:0" << "s3cret" << QByteArray() << "token=" << 401;
    }
    void tokenRule()
    {
        QFETCH(QString, address);
        QFETCH(QString, token);
        QFETCH(QByteArray, authorization);
        QFETCH(QString, query);
        QFETCH(int, status);
        TProgram p;
        QVERIFY(p.Listen(address, token));
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!authorization.isEmpty())
            headers.append({"Authorization", authorization});
        for (const QString &path : Paths) {
            const auto answer = p.Get(query.isEmpty() ? path : path + QLatin1Char('?') + query, headers);
            QVERIFY2(answer.Status == status, qPrintable(path + QStringLiteral(": %1 ").arg(answer.Status) + answer.Body));
            if (status == 401)
                QCOMPARE(answer.Header("WWW-Authenticate"), QByteArray("Bearer"));
        }
        // The page's live feed follows the same rule.
        QWebSocket socket;
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/events%2").arg(p.Web->Port()).arg(query.isEmpty() ? QString() : QLatin1Char('?') + query)));
        if (!authorization.isEmpty())
            request.setRawHeader("Authorization", authorization);
        QStringList messages;
        connect(&socket, &QWebSocket::textMessageReceived, &socket, [&](const QString &m) { messages << m; });
        socket.open(request);
        if (status == 200) {
            QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 5000);
            QCOMPARE(QJsonDocument::fromJson(messages[0].toUtf8()).object()[QStringLiteral("channels")].toArray().size(), 8);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
            QVERIFY(messages.isEmpty());
        }
    }

    // An address the web face cannot or must not serve on: nothing is served, one memo line
    // says why, and the program goes on.
    void refusedAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("said");
        QTest::newRow("beyond loopback without a token") << "0.0.0.0:%1" << "" << "没有设置 HttpToken";
        QTest::newRow("port taken") << "127.0.0.1:%2" << "" << "无法打开";
        QTest::newRow("no port") << "127.0.0.1" << "" << "不是 地址:端口";
        QTest::newRow("a name, not an address") << "localhost:%1" << "" << "不是 IP 地址";
        QTest::newRow("port out of range") << "127.0.0.1:70000" << "" << "不是 地址:端口";
    }
    void refusedAddress()
    {
        QFETCH(QString, address);
        QFETCH(QString, token);
        QFETCH(QString, said);
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        TProgram p;
        const int lines = p.Core->LogMemo().Lines().size();
        const QString given = QString(address).replace(QStringLiteral("%1"), QString::number(TestSupport::FreeTcpPort()))
                                  .replace(QStringLiteral("%2"), QString::number(taken.serverPort()));
        QVERIFY(!p.Web->Serve(given, token, p.Core->LogMemo()));
        QVERIFY(!p.Web->IsListening());
        QCOMPARE(p.Core->LogMemo().Lines().size(), lines + 1);
        QVERIFY2(p.Core->LogMemo().Lines().last().contains(said), qPrintable(p.Core->LogMemo().Lines().last()));
        QCOMPARE(p.Ask(LdtxFrame::GroupListQuery, QByteArray(), 1), int(LdtxFrame::GroupListQuery));
        // An empty address turns the face off without a word.
        QVERIFY(!p.Web->Serve(QString(), QString(), p.Core->LogMemo()));
        QCOMPARE(p.Core->LogMemo().Lines().size(), lines + 1);
    }

    // Only GET is served; every other method is told so on every path.
    void onlyGet_data()
    {
        QTest::addColumn<QByteArray>("method");
        for (const char *method : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS", "HEAD"})
            QTest::newRow(method) << QByteArray(method);
    }
    void onlyGet()
    {
        QFETCH(QByteArray, method);
        TProgram p;
        QVERIFY(p.Listen());
        for (const QString &path : Paths) {
            const auto answer = TestSupport::Http(method, p.Url(path), {}, method == "HEAD" ? QByteArray() : QByteArray("x=1"));
            QVERIFY2(answer.Status == 405, qPrintable(path + QStringLiteral(": %1").arg(answer.Status)));
            QCOMPARE(answer.Header("Allow"), QByteArray("GET"));
        }
    }

    // Requests that are not HTTP, too long or carry what a GET does not get a 4xx or a closed
    // connection, never an answer of 2xx; the program answers the platform and the web after.
    void badRequests_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("answer"); // the status line's start; empty: closed
        QTest::newRow("not http") << QByteArray("HELLO THERE\r\n\r\n") << QByteArray("");
        QTest::newRow("binary") << QByteArray("\x00\x01\x02\xff\r\n\r\n", 8) << QByteArray("");
        QTest::newRow("long address") << "GET /api/status?" + QByteArray(20000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n"
                                      << QByteArray("HTTP/1.1 414");
        QTest::newRow("GET with a body") << QByteArray("GET /api/status HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello")
                                         << QByteArray("HTTP/1.1 400");
        QTest::newRow("unknown path") << QByteArray("GET /etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n") << QByteArray("HTTP/1.1 404");
        QTest::newRow("dots") << QByteArray("GET /../../metrics HTTP/1.1\r\nHost: x\r\n\r\n") << QByteArray("HTTP/1.1 ");
    }
    void badRequests()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, answer);
        TProgram p;
        QVERIFY(p.Listen());
        const QByteArray got = RawAnswer(p.Web->Port(), bytes);
        if (answer.isEmpty())
            QVERIFY2(got.isEmpty() || got.startsWith("HTTP/1.1 4"), got.constData());
        else
            QVERIFY2(got.startsWith(answer), got.constData());
        QVERIFY2(!got.startsWith("HTTP/1.1 2"), got.constData());
        QCOMPARE(p.Ask(LdtxFrame::GroupListQuery, QByteArray(), 2), int(LdtxFrame::GroupListQuery));
        QCOMPARE(p.Get(QStringLiteral("/api/status")).Status, 200);
    }

    // The snapshot as JSON: links, requests by kind, eight channels, a notification on its channel.
    void statusFields()
    {
        TProgram p;
        QVERIFY(p.Listen());
        QJsonObject s = p.Json(QStringLiteral("/api/status"));
        QCOMPARE(s[QStringLiteral("channels")].toArray().size(), 8);
        QCOMPARE(s[QStringLiteral("platform_link")][QStringLiteral("port")].toInt(), p.Core->Config().CommRecIpPort);
        QCOMPARE(s[QStringLiteral("switch_link")][QStringLiteral("port")].toInt(), p.Core->Config().RecIpPort);
        QCOMPARE(s[QStringLiteral("platform_link")][QStringLiteral("up")].toBool(), false);
        QCOMPARE(s[QStringLiteral("role")].toString(), QStringLiteral("single"));
        QVERIFY(s.contains(QStringLiteral("version")));
        QVERIFY(!s[QStringLiteral("started")].toString().isEmpty());
        QCOMPARE(s[QStringLiteral("requests")][QStringLiteral("voice_notify")].toInt(), 0);

        QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, VoiceToGroup(5, QStringLiteral("撤离"), 1), 7), int(LdtxFrame::CallNotifyResult));
        p.Refresh();
        s = p.Json(QStringLiteral("/api/status"));
        QCOMPARE(s[QStringLiteral("requests")][QStringLiteral("voice_notify")].toInt(), 1);
        QCOMPARE(s[QStringLiteral("platform_link")][QStringLiteral("up")].toBool(), true);
        QCOMPARE(s[QStringLiteral("platform_link")][QStringLiteral("received")].toInt(), 1);
        QVERIFY(!s[QStringLiteral("platform_link")][QStringLiteral("last_received")].toString().isEmpty());
        const QJsonObject first = s[QStringLiteral("channels")].toArray()[0].toObject();
        QCOMPARE(first[QStringLiteral("channel")].toInt(), 1);
        QCOMPARE(first[QStringLiteral("text")].toString(), QStringLiteral("撤离"));
        QVERIFY(s[QStringLiteral("store")][QStringLiteral("reachable")].toBool());
    }

    // The history as 通知记录 filters it, newest first, a page at a time.
    void historyFilters_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("contents"); // as listed, newest first
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        const QString tomorrow = QDate::currentDate().addDays(1).toString(Qt::ISODate);
        const QString yesterday = QDate::currentDate().addDays(-1).toString(Qt::ISODate);
        QTest::newRow("all") << "" << QStringList{"e4", "e3", "e2", "e1"};
        QTest::newRow("kind") << "kind=主机通讯恢复" << QStringList{"e3", "e1"};
        QTest::newRow("text") << "q=e2" << QStringList{"e2"};
        QTest::newRow("kind and text") << "kind=主机通讯恢复&q=e3" << QStringList{"e3"};
        QTest::newRow("today") << QStringLiteral("from=%1&to=%1").arg(today) << QStringList{"e4", "e3", "e2", "e1"};
        QTest::newRow("from tomorrow") << QStringLiteral("from=%1").arg(tomorrow) << QStringList{};
        QTest::newRow("up to yesterday") << QStringLiteral("to=%1").arg(yesterday) << QStringList{};
        QTest::newRow("first page") << "limit=3" << QStringList{"e4", "e3", "e2"};
    }
    void historyFilters()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, contents);
        TProgram p;
        QVERIFY(p.Listen());
        for (const char *kind : {"主机通讯恢复", "主机通讯中断", "主机通讯恢复", "测试请求"})
            p.Core->History().Event(QString::fromUtf8(kind), QStringLiteral("e%1").arg(++Serial));
        Serial = 0;
        QTRY_COMPARE_WITH_TIMEOUT(p.Core->History().Pending(), 0, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(p.Json(QStringLiteral("/api/history?q=e4"))[QStringLiteral("entries")].toArray().size() == 1, 5000);
        const QJsonObject page = p.Json(QStringLiteral("/api/history?") + query);
        QStringList got;
        for (const QJsonValue &entry : page[QStringLiteral("entries")].toArray())
            if (entry[QStringLiteral("content")].toString().startsWith(QLatin1Char('e')))
                got << entry[QStringLiteral("content")].toString();
        QCOMPARE(got, contents);
    }

    // Pages follow each other by next_before without gaps or repeats; the last has none.
    void historyPaging()
    {
        TProgram p;
        QVERIFY(p.Listen());
        for (int i = 1; i <= 7; ++i)
            p.Core->History().Event(QStringLiteral("测试请求"), QStringLiteral("n%1").arg(i));
        QTRY_COMPARE_WITH_TIMEOUT(p.Core->History().Pending(), 0, 5000);
        // Pending() is 0 too before the writer has taken the entries: wait for the last one.
        QTRY_VERIFY_WITH_TIMEOUT(p.Json(QStringLiteral("/api/history?q=n7"))[QStringLiteral("entries")].toArray().size() == 1, 5000);
        QStringList got;
        QString before;
        int pages = 0;
        do {
            const QJsonObject page = p.Json(QStringLiteral("/api/history?kind=测试请求&limit=3") +
                                            (before.isEmpty() ? QString() : QStringLiteral("&before=") + before));
            for (const QJsonValue &entry : page[QStringLiteral("entries")].toArray())
                got << entry[QStringLiteral("content")].toString();
            before = page[QStringLiteral("next_before")].toString();
            QVERIFY(++pages <= 3);
        } while (!before.isEmpty());
        QCOMPARE(got, (QStringList{"n7", "n6", "n5", "n4", "n3", "n2", "n1"}));
        QCOMPARE(pages, 3);
    }

    void historyBadParameters_data()
    {
        QTest::addColumn<QString>("query");
        QTest::newRow("date") << "from=2024-13-01";
        QTest::newRow("kind") << "kind=nothing";
        QTest::newRow("limit zero") << "limit=0";
        QTest::newRow("limit too big") << "limit=100000";
        QTest::newRow("before text") << "before=abc";
    }
    void historyBadParameters()
    {
        QFETCH(QString, query);
        TProgram p;
        QVERIFY(p.Listen());
        QCOMPARE(p.Get(QStringLiteral("/api/history?") + query).Status, 400);
    }

    // The metrics pass Prometheus' own check, and count what the links did.
    void metrics()
    {
        TProgram p;
        QVERIFY(p.Listen());
        QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, VoiceToGroup(5, QStringLiteral("撤离"), 1), 7), int(LdtxFrame::CallNotifyResult));
        QCOMPARE(p.Ask(LdtxFrame::GroupListQuery, QByteArray(), 8), int(LdtxFrame::GroupListQuery));
        // A frame with a wrong check code.
        QByteArray bad = LdtxFrame::Build(QByteArray(), LdtxFrame::GroupListQuery, 0, 9, QStringLiteral("CRC-16/MODBUS"))->Bytes;
        bad[bad.size() - 1] = char(bad[bad.size() - 1] ^ 0x5a);
        p.Platform.writeDatagram(bad, QHostAddress::LocalHost, quint16(p.Core->Config().CommRecIpPort));
        QTRY_COMPARE_WITH_TIMEOUT(p.Core->PlatformLink().CheckFailures(), quint64(1), 5000);
        p.Refresh();
        const auto answer = p.Get(QStringLiteral("/metrics"));
        QCOMPARE(answer.Status, 200);
        QVERIFY(answer.Header("Content-Type").startsWith("text/plain; version=0.0.4"));
        const QByteArray text = answer.Body;
        for (const char *line : {"varnex_platform_requests_total{kind=\"voice_notify\"} 1",
                                 "varnex_platform_requests_total{kind=\"group_list\"} 1",
                                 "varnex_platform_reply_seconds_count 2",
                                 "varnex_platform_reply_seconds_bucket{le=\"+Inf\"} 2",
                                 "varnex_platform_check_failures_total 1",
                                 "varnex_link_up{link=\"platform\"} 1",
                                 "varnex_link_up{link=\"switch\"} 0",
                                 "varnex_channel_state{channel=\"8\",state=\"blocked\"} 1",
                                 "varnex_channel_state{channel=\"1\",state=\"idle\"} 0",
                                 "varnex_history_pending ",
                                 "varnex_store_up 1",
                                 "process_start_time_seconds "})
            QVERIFY2(text.contains(QByteArray("\n") + line), qPrintable(line + QStringLiteral(" in\n") + text));
        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        if (promtool.isEmpty())
            QSKIP("promtool is not installed (Debian: prometheus); the format was not checked by it");
        QProcess check;
        check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
        QVERIFY(check.waitForStarted());
        check.write(text);
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(20000));
        const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
        QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
    }

    // The page comes whole from the program: Chinese, fit for a phone, nothing fetched elsewhere.
    void page()
    {
        TProgram p;
        QVERIFY(p.Listen());
        const auto answer = p.Get(QStringLiteral("/"));
        QCOMPARE(answer.Status, 200);
        QVERIFY(answer.Header("Content-Type").startsWith("text/html"));
        const QString html = QString::fromUtf8(answer.Body);
        QVERIFY(html.contains(QStringLiteral("通道")));
        QVERIFY(html.contains(QStringLiteral("name=\"viewport\"")));
        QVERIFY(!html.contains(QStringLiteral("src=")));
        QVERIFY(!html.contains(QStringLiteral("http://")) && !html.contains(QStringLiteral("https://")));
        QVERIFY(answer.Header("Content-Security-Policy").contains("default-src 'none'"));
    }

    // The live feed sends the page what changed, within a push period.
    void feedFollowsChanges()
    {
        TProgram p;
        QVERIFY(p.Listen());
        QWebSocket socket;
        QList<QJsonObject> messages;
        connect(&socket, &QWebSocket::textMessageReceived, &socket,
                [&](const QString &m) { messages << QJsonDocument::fromJson(m.toUtf8()).object(); });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/events").arg(p.Web->Port())));
        QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty(), 5000);
        QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, VoiceToGroup(5, QStringLiteral("撤离"), 1), 7), int(LdtxFrame::CallNotifyResult));
        QTRY_VERIFY_WITH_TIMEOUT(messages.last()[QStringLiteral("channels")].toArray()[0][QStringLiteral("text")].toString()
                                     == QStringLiteral("撤离"), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!messages.last()[QStringLiteral("history")].toArray().isEmpty()
                                     && messages.last()[QStringLiteral("history")].toArray()[0][QStringLiteral("kind")].toString()
                                            == QStringLiteral("语音通知"),
                                 2000);
        QCOMPARE(messages.last()[QStringLiteral("today")][QStringLiteral("platform_requests")].toInt(), 1);
    }

    // The web face answers from a thread of its own: every path and the page's feed are served
    // while the main thread, which answers the platform, is held and handles nothing.
    void servedWhileMainThreadHeld_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString &path : Paths + QStringList{QStringLiteral("/events")})
            QTest::newRow(qPrintable(path)) << path;
    }
    void servedWhileMainThreadHeld()
    {
        QFETCH(QString, path);
        TProgram p;
        QVERIFY(p.Listen());
        p.Core->History().Event(QStringLiteral("测试请求"), QStringLiteral("held"));
        QTRY_VERIFY_WITH_TIMEOUT(p.Json(QStringLiteral("/api/history?q=held"))[QStringLiteral("entries")].toArray().size() == 1, 5000);
        const quint16 port = p.Web->Port();
        QByteArray got;
        std::unique_ptr<QThread> asker(QThread::create([&got, port, path] {
            if (path == QLatin1String("/events")) {
                QWebSocket socket;
                QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket, [&](const QString &m) { got = m.toUtf8(); });
                socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/events").arg(port)));
                (void)QTest::qWaitFor([&] { return !got.isEmpty(); }, 10000);
                return;
            }
            const auto answer = TestSupport::Http("GET", QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
            got = QByteArray::number(answer.Status) + ' ' + answer.Body;
        }));
        asker->start();
        // Held: no event of the main thread runs until the asker is done.
        QVERIFY(asker->wait(QDeadlineTimer(30000)));
        if (path == QLatin1String("/events"))
            QCOMPARE(QJsonDocument::fromJson(got).object()[QStringLiteral("channels")].toArray().size(), 8);
        else
            QVERIFY2(got.startsWith("200 "), got.left(200).constData());
        if (path == QLatin1String("/api/history"))
            QVERIFY2(got.contains("held"), got.left(400).constData());
    }

private:
    int Serial = 0;
};

QTEST_GUILESS_MAIN(TstWeb)
#include "tst_web.moc"
