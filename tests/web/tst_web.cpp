#include "control/control_server.h"
#include "app/varnex_core.h"
#include "directory/directory.h"
#include "history/history.h"
#include "platform_link/ldtx_frame.h"
#include "support/test_support.h"
#include "web/web_face.h"
#include "web/web_rules.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QWebSocket>

namespace {

// A program core with its control socket, and the web face (the library `varnex web` runs) fed
// by that socket on a free loopback port or the address a test gives; a platform socket of this
// test.
struct TProgram
{
    QTemporaryDir Dir;
    QUdpSocket Platform;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;
    std::unique_ptr<TControlServer> Control;
    std::unique_ptr<TWebFace> Web;

    explicit TProgram(bool serveControl = true)
    {
        Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Core = TestSupport::StartCore(Dir, QStringList{QStringLiteral("CommIpPort=%1").arg(Platform.localPort()),
                                                       QStringLiteral("ifUse0=是")},
                                      &Player);
        // Group 5 with one extension, so a notification to it starts on 第0路.
        Core->Directory().AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"5"}, QStringLiteral("0"), {});
        Core->Directory().Query().Execute(QStringLiteral("insert into \"Group\"(GroupNum, sequence, GroupName) values (5, 1, '一采区')"));
        TestSupport::CopyCaughtUp(Core->Directory());
        Core->Status().Start();
        // The history's file holds its first entry (启动) before anyone reads it: its writer makes
        // the tables on a thread of its own, which a loaded machine may not have run yet.
        (void)QTest::qWaitFor([this] { return TestSupport::PlaceRows(Core->History().Where(), QStringLiteral("SELECT count(*) FROM Entry")).value(0).toInt() > 0; },
                        10000);
        Control = std::make_unique<TControlServer>(Core->Status(), Core->PairRole());
        if (serveControl)
            Control->Listen(ControlPath());
        Web = std::make_unique<TWebFace>(ControlPath(), Core->History().Where(), true);
    }
    QString ControlPath() const { return Dir.filePath(QStringLiteral("varnex.ctl")); }
    bool Listen(const QString &address = QStringLiteral("127.0.0.1:0"), const QString &token = QString(),
                const QStringList &names = {})
    {
        QString why;
        if (!Web->Listen(address, token, names, &why)) {
            qWarning() << why;
            return false;
        }
        return !Control->Path().isEmpty() ? QTest::qWaitFor([this] { return Web->Hears(); }, 5000) : true;
    }
    quint16 Port() const { return Web->Port(); }
    QString Url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(path); }
    QString Origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(Port()); }
    TestSupport::THttpAnswer Get(const QString &path, const QList<QPair<QByteArray, QByteArray>> &headers = {})
    {
        return TestSupport::Http("GET", Url(path), headers);
    }
    QJsonObject Json(const QString &path) { return QJsonDocument::fromJson(Get(path).Body).object(); }
    int Ask(uint8_t type, const QByteArray &payload, uint16_t id)
    {
        return TestSupport::Ask(Platform, Core->Config().CommRecIpPort, type, payload, id);
    }
    // The page's live feed opened on socket: the messages it has sent so far.
    const QList<QJsonObject> &Follow(QWebSocket &socket)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket,
                         [this](const QString &m) { Messages << QJsonDocument::fromJson(m.toUtf8()).object(); });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/events").arg(Port())));
        return Messages;
    }
    QList<QJsonObject> Messages;
};

using TestSupport::VoiceToGroup;

// What a raw socket gets back for bytes it sends: everything up to the end of the head (and
// whatever came with it), or empty when the connection was closed without an answer.
QByteArray RawAnswer(quint16 port, const QByteArray &bytes, QTcpSocket *keep = nullptr)
{
    QTcpSocket own;
    QTcpSocket &socket = keep ? *keep : own;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return "no connection";
    socket.write(bytes);
    QByteArray got;
    (void)QTest::qWaitFor([&] {
        got += socket.readAll();
        return got.contains("\r\n\r\n") || socket.state() != QAbstractSocket::ConnectedState;
    }, 5000);
    got += socket.readAll();
    return got;
}

QByteArray StatusLine(const QByteArray &answer)
{
    return answer.left(answer.indexOf("\r\n"));
}

QByteArray HeaderOf(const QByteArray &answer, const QByteArray &name)
{
    for (const QByteArray &line : answer.left(answer.indexOf("\r\n\r\n")).split('\n'))
        if (line.toLower().startsWith(name.toLower() + ':'))
            return line.mid(name.size() + 1).trimmed();
    return QByteArray();
}

QByteArray Upgrade(quint16 port, const QByteArray &origin, const QByteArray &host = QByteArray())
{
    QByteArray request = "GET /events HTTP/1.1\r\nHost: " + (host.isEmpty() ? "127.0.0.1:" + QByteArray::number(port) : host)
        + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
          "Sec-WebSocket-Version: 13\r\n";
    if (!origin.isNull())
        request += "Origin: " + origin + "\r\n";
    return request + "\r\n";
}

// A client's frame, masked as a client must (or not, to see it refused).
QByteArray ClientFrame(int opcode, const QByteArray &payload, bool masked = true)
{
    QByteArray frame(1, char(0x80 | opcode));
    frame += char((masked ? 0x80 : 0) | payload.size());
    const QByteArray mask("\x12\x34\x56\x78", 4);
    if (masked)
        frame += mask;
    for (qsizetype i = 0; i < payload.size(); ++i)
        frame += masked ? char(payload[i] ^ mask[i % 4]) : payload[i];
    return frame;
}

// The frames a server sent, as (opcode, payload).
QList<QPair<int, QByteArray>> ServerFrames(QByteArray bytes)
{
    QList<QPair<int, QByteArray>> frames;
    while (bytes.size() >= 2) {
        qsizetype header = 2;
        quint64 size = uchar(bytes[1]) & 0x7f;
        if (size == 126) {
            size = (quint64(uchar(bytes[2])) << 8) | uchar(bytes[3]);
            header = 4;
        } else if (size == 127) {
            size = 0;
            for (int i = 0; i < 8; ++i)
                size = (size << 8) | uchar(bytes[2 + i]);
            header = 10;
        }
        if (bytes.size() < header + qsizetype(size))
            break;
        frames.append({uchar(bytes[0]) & 0x0f, bytes.mid(header, qsizetype(size))});
        bytes.remove(0, header + qsizetype(size));
    }
    return frames;
}

const QStringList Paths{QStringLiteral("/"), QStringLiteral("/api/status"), QStringLiteral("/api/history"),
                        QStringLiteral("/metrics")};

} // namespace

class TstWeb : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The whole token or nothing: a prefix, a longer text or another case is refused.
    void tokenCompare_data()
    {
        QTest::addColumn<QByteArray>("given");
        QTest::addColumn<bool>("admitted");
        QTest::newRow("same") << QByteArray("s3cret-Token") << true;
        QTest::newRow("a prefix") << QByteArray("s3cret") << false;
        QTest::newRow("one byte short") << QByteArray("s3cret-Toke") << false;
        QTest::newRow("longer") << QByteArray("s3cret-Token!") << false;
        QTest::newRow("other case") << QByteArray("S3CRET-TOKEN") << false;
        QTest::newRow("last byte differs") << QByteArray("s3cret-Tokem") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void tokenCompare()
    {
        QFETCH(QByteArray, given);
        QFETCH(bool, admitted);
        QCOMPARE(TWebRules::TokenMatches(given, "s3cret-Token"), admitted);
        // No token set admits nobody, an empty one given neither.
        QVERIFY(!TWebRules::TokenMatches(given, QByteArray()));
    }

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
        QTest::newRow("every address, a prefix in the header") << "0.0.0.0:0" << "s3cret" << QByteArray("Bearer s3cre") << "" << 401;
        QTest::newRow("every address, a prefix in the query") << "0.0.0.0:0" << "s3cret" << QByteArray() << "token=s3c" << 401;
        QTest::newRow("every address, longer header") << "0.0.0.0:0" << "s3cret" << QByteArray("Bearer s3crett") << "" << 401;
        QTest::newRow("every address, not bearer") << "0.0.0.0:0" << "s3cret" << QByteArray("Basic s3cret") << "" << 401;
        QTest::newRow("every address, wrong query") << "0.0.0.0:0" << "s3cret" << QByteArray() << "token=S3CRET" << 401;
        QTest::newRow("every address, empty query") << "0.0.0.0:0" << "s3cret" << QByteArray() << "token=" << 401;
        // Wrong only at the end, at the token's own length: a compare of the first bytes passes it.
        QTest::newRow("every address, last byte wrong in the header") << "0.0.0.0:0" << "s3cret" << QByteArray("Bearer s3crez") << "" << 401;
        QTest::newRow("every address, last byte wrong in the query") << "0.0.0.0:0" << "s3cret" << QByteArray() << "token=s3creT" << 401;
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
        QWebSocket socket(p.Origin());
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/events%2").arg(p.Port()).arg(query.isEmpty() ? QString() : QLatin1Char('?') + query)));
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

    // A request must name this server in its Host: a name that a foreign site points at this
    // address (DNS rebinding) is refused on every path.
    void hostRule_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QByteArray>("host"); // %P: the port served on
        QTest::addColumn<QByteArray>("answer");
        const QStringList none;
        QTest::newRow("the bound address") << "127.0.0.1:0" << none << QByteArray("127.0.0.1:%P") << QByteArray("HTTP/1.1 200");
        QTest::newRow("localhost on loopback") << "127.0.0.1:0" << none << QByteArray("localhost:%P") << QByteArray("HTTP/1.1 200");
        QTest::newRow("LOCALHOST") << "127.0.0.1:0" << none << QByteArray("LOCALHOST:%P") << QByteArray("HTTP/1.1 200");
        QTest::newRow("IPv6 loopback") << "127.0.0.1:0" << none << QByteArray("[::1]:%P") << QByteArray("HTTP/1.1 200");
        QTest::newRow("a foreign name") << "127.0.0.1:0" << none << QByteArray("evil.example:%P") << QByteArray("HTTP/1.1 421");
        QTest::newRow("a foreign name, no port") << "127.0.0.1:0" << none << QByteArray("evil.example") << QByteArray("HTTP/1.1 421");
        QTest::newRow("another port") << "127.0.0.1:0" << none << QByteArray("127.0.0.1:1") << QByteArray("HTTP/1.1 421");
        QTest::newRow("no port (80)") << "127.0.0.1:0" << none << QByteArray("127.0.0.1") << QByteArray("HTTP/1.1 421");
        QTest::newRow("name with the address as prefix") << "127.0.0.1:0" << none << QByteArray("127.0.0.1.evil.example:%P") << QByteArray("HTTP/1.1 421");
        QTest::newRow("a name of HttpNames") << "127.0.0.1:0" << QStringList{"varnex.mine"} << QByteArray("Varnex.Mine:%P") << QByteArray("HTTP/1.1 200");
        QTest::newRow("every address, an address") << "0.0.0.0:0" << none << QByteArray("127.0.0.1:%P") << QByteArray("HTTP/1.1 200");
        QTest::newRow("every address, a foreign name") << "0.0.0.0:0" << none << QByteArray("evil.example:%P") << QByteArray("HTTP/1.1 421");
    }
    void hostRule()
    {
        QFETCH(QString, address);
        QFETCH(QStringList, names);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, answer);
        TProgram p;
        QVERIFY(p.Listen(address, QStringLiteral("tok"), names));
        host.replace("%P", QByteArray::number(p.Port()));
        for (const QString &path : Paths) {
            const QByteArray got = StatusLine(RawAnswer(p.Port(), "GET " + path.toUtf8() + "?token=tok HTTP/1.1\r\nHost: " + host
                                                                     + "\r\nConnection: close\r\n\r\n"));
            QVERIFY2(got.startsWith(answer), qPrintable(path + QStringLiteral(": ") + got));
        }
        // HTTP/1.0 without a Host names nothing.
        QVERIFY(StatusLine(RawAnswer(p.Port(), "GET /api/status?token=tok HTTP/1.0\r\n\r\n")).startsWith("HTTP/1.1 400"));
    }

    // The live feed opens only for the page's own Origin: another site's page cannot read it
    // with its visitor's browser.
    void originRule_data()
    {
        QTest::addColumn<QByteArray>("origin"); // %P: the port served on; null: no Origin
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("the page's own") << QByteArray("http://127.0.0.1:%P") << QByteArray("HTTP/1.1 101");
        QTest::newRow("another site") << QByteArray("http://evil.example") << QByteArray("HTTP/1.1 403");
        QTest::newRow("another port") << QByteArray("http://127.0.0.1:1") << QByteArray("HTTP/1.1 403");
        QTest::newRow("https") << QByteArray("https://127.0.0.1:%P") << QByteArray("HTTP/1.1 403");
        QTest::newRow("localhost, while the Host is the address") << QByteArray("http://localhost:%P") << QByteArray("HTTP/1.1 403");
        QTest::newRow("null") << QByteArray("null") << QByteArray("HTTP/1.1 403");
        QTest::newRow("none") << QByteArray() << QByteArray("HTTP/1.1 403");
    }
    void originRule()
    {
        QFETCH(QByteArray, origin);
        QFETCH(QByteArray, answer);
        TProgram p;
        QVERIFY(p.Listen());
        const QByteArray got = RawAnswer(p.Port(), Upgrade(p.Port(), origin.replace("%P", QByteArray::number(p.Port()))));
        QVERIFY2(StatusLine(got).startsWith(answer), got.left(300).constData());
        if (answer.endsWith("101"))
            QCOMPARE(HeaderOf(got, "Sec-WebSocket-Accept"), QByteArray("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="));
    }

    // Only GET is served; every other method, and a method in another case, is told so.
    void onlyGet_data()
    {
        QTest::addColumn<QByteArray>("method");
        for (const char *method : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS", "HEAD", "TRACE", "get", "Get", "FOO"})
            QTest::newRow(method) << QByteArray(method);
    }
    void onlyGet()
    {
        QFETCH(QByteArray, method);
        TProgram p;
        QVERIFY(p.Listen());
        for (const QString &path : Paths + QStringList{QStringLiteral("/nothing")}) {
            const QByteArray got = RawAnswer(p.Port(), method + ' ' + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1:"
                                                          + QByteArray::number(p.Port()) + "\r\nContent-Length: 3\r\n\r\nx=1");
            QVERIFY2(StatusLine(got).startsWith("HTTP/1.1 405"), qPrintable(path + QStringLiteral(": ") + StatusLine(got)));
            QCOMPARE(HeaderOf(got, "Allow"), QByteArray("GET"));
        }
    }

    // A connection that asks to be closed is closed after its answer; one that does not stays
    // open for the next request.
    void connectionClose_data()
    {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<QByteArray>("connection");
        QTest::addColumn<bool>("closed");
        QTest::newRow("1.1 close") << QByteArray("HTTP/1.1") << QByteArray("close") << true;
        QTest::newRow("1.1 Close") << QByteArray("HTTP/1.1") << QByteArray("Close") << true;
        QTest::newRow("1.1 kept") << QByteArray("HTTP/1.1") << QByteArray() << false;
        QTest::newRow("1.0") << QByteArray("HTTP/1.0") << QByteArray() << true;
    }
    void connectionClose()
    {
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, connection);
        QFETCH(bool, closed);
        TProgram p;
        QVERIFY(p.Listen());
        QTcpSocket socket;
        const QByteArray request = "GET /api/status " + version + "\r\nHost: 127.0.0.1:" + QByteArray::number(p.Port()) + "\r\n"
            + (connection.isEmpty() ? QByteArray() : "Connection: " + connection + "\r\n") + "\r\n";
        QVERIFY(StatusLine(RawAnswer(p.Port(), request, &socket)).contains(" 200 "));
        if (closed) {
            QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 3000);
            return;
        }
        QTest::qWait(300);
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
        socket.readAll();
        socket.write("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(p.Port()) + "\r\n\r\n");
        QByteArray again;
        QTRY_VERIFY_WITH_TIMEOUT((again += socket.readAll()).startsWith("HTTP/1.1 200"), 3000);
    }

    // A connection silent too long is closed, and so is one whose head is not whole in time
    // however steadily it dribbles; an answered request's keep-alive connection waits for the
    // next as long, and an open live feed is never cut.
    void timeouts_data()
    {
        QTest::addColumn<unsigned>("idle");
        QTest::addColumn<unsigned>("head");
        QTest::addColumn<QString>("client");
        QTest::addColumn<bool>("closed");
        QTest::newRow("silent") << 1u << 30u << "silent" << true;
        QTest::newRow("dribbling a head") << 30u << 1u << "dribble" << true;
        QTest::newRow("kept alive, then silent") << 1u << 30u << "request" << true;
        QTest::newRow("kept alive, then dribbling") << 30u << 1u << "request, dribble" << true;
        QTest::newRow("dribbling within the limits") << 30u << 30u << "dribble" << false;
        QTest::newRow("live feed") << 1u << 1u << "feed" << false;
    }
    void timeouts()
    {
        QFETCH(unsigned, idle);
        QFETCH(unsigned, head);
        QFETCH(QString, client);
        QFETCH(bool, closed);
        TProgram p;
        THttpServer::TOptions options;
        options.IdleSeconds = idle;
        options.HeadSeconds = head;
        QString why;
        QVERIFY2(p.Web->Listen(options, &why), qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT(p.Web->Hears(), 5000);
        QTcpSocket socket;
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(p.Port()) + "\r\n";
        if (client.startsWith(QLatin1String("request")))
            QVERIFY(StatusLine(RawAnswer(p.Port(), "GET /metrics HTTP/1.1\r\n" + host + "\r\n", &socket)).startsWith("HTTP/1.1 200"));
        else if (client == QLatin1String("feed"))
            QVERIFY(StatusLine(RawAnswer(p.Port(), Upgrade(p.Port(), p.Origin().toUtf8()), &socket)).startsWith("HTTP/1.1 101"));
        else
            socket.connectToHost(QHostAddress::LocalHost, p.Port());
        QVERIFY(socket.waitForConnected(3000));
        const QByteArray dribble = "GET / HTTP/1.1\r\n" + host + "X-Slow: " + QByteArray(200, 'a');
        QElapsedTimer clock;
        clock.start();
        qsizetype at = 0;
        // Well past both limits, sending a byte every 200 ms where the client dribbles.
        while (clock.elapsed() < 4000 && socket.state() == QAbstractSocket::ConnectedState) {
            if (client.endsWith(QLatin1String("dribble")) && at < dribble.size())
                socket.write(dribble.mid(at++, 1));
            QTest::qWait(200);
        }
        QCOMPARE(socket.state() != QAbstractSocket::ConnectedState, closed);
    }

    // An address the web face cannot or must not serve on: nothing is served, and why is one line.
    void refusedAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("said");
        QTest::newRow("beyond loopback without a token") << "0.0.0.0:%1" << "" << "没有设置 HttpToken";
        QTest::newRow("port taken") << "127.0.0.1:%2" << "" << "无法打开";
        QTest::newRow("no port") << "127.0.0.1" << "" << "不是 地址:端口";
        QTest::newRow("a name, not an address") << "mine.example:%1" << "" << "不是 IP 地址";
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
        const QString given = QString(address).replace(QStringLiteral("%1"), QString::number(TestSupport::FreeTcpPort()))
                                  .replace(QStringLiteral("%2"), QString::number(taken.serverPort()));
        QString why;
        QVERIFY(!p.Web->Listen(given, token, {}, &why));
        QCOMPARE(p.Web->Port(), quint16(0));
        QVERIFY2(why.contains(said), qPrintable(why));
        QVERIFY(!why.contains(QLatin1Char('\n')));
    }

    // localhost is served, on the IPv4 loopback, by that name and by the address.
    void localhostServed()
    {
        TProgram p;
        const int port = TestSupport::FreeTcpPort();
        QVERIFY(p.Listen(QStringLiteral("localhost:%1").arg(port)));
        QCOMPARE(int(p.Port()), port);
        QCOMPARE(p.Get(QStringLiteral("/api/status")).Status, 200);
        QCOMPARE(TestSupport::Http("GET", QStringLiteral("http://localhost:%1/api/status").arg(port)).Status, 200);
    }

    // Requests that are not HTTP, too long or carry what a GET does not get a 4xx or a closed
    // connection, never an answer of 2xx; the web face answers after.
    void badRequests_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("answer"); // the status line's start; empty: closed or any 4xx
        QTest::newRow("not http") << QByteArray("HELLO THERE\r\n\r\n") << QByteArray("");
        QTest::newRow("binary") << QByteArray("\x00\x01\x02\xff\r\n\r\n", 8) << QByteArray("");
        QTest::newRow("long address") << "GET /api/status?" + QByteArray(20000, 'a') + " HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n"
                                      << QByteArray("HTTP/1.1 414");
        QTest::newRow("long path") << "GET /" + QByteArray(5000, 'a') + " HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n"
                                   << QByteArray("HTTP/1.1 414");
        QTest::newRow("long request line") << "GET /" + QByteArray(40000, 'a') + " HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n"
                                           << QByteArray("HTTP/1.1 4");
        QTest::newRow("many header lines") << "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n" + QByteArray("X-A: b\r\n").repeated(100) + "\r\n"
                                           << QByteArray("HTTP/1.1 431");
        QTest::newRow("a long header") << "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:%P\r\nX-Long: " + QByteArray(40000, 'a') + "\r\n\r\n"
                                       << QByteArray("HTTP/1.1 431");
        QTest::newRow("GET with a body") << QByteArray("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:%P\r\nContent-Length: 5\r\n\r\nhello")
                                         << QByteArray("HTTP/1.1 400");
        QTest::newRow("unknown path") << QByteArray("GET /etc/passwd HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n") << QByteArray("HTTP/1.1 404");
        QTest::newRow("dots") << QByteArray("GET /../../metrics HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n") << QByteArray("HTTP/1.1 4");
        QTest::newRow("events without upgrade") << QByteArray("GET /events HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n") << QByteArray("HTTP/1.1 400");
    }
    void badRequests()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, answer);
        TProgram p;
        QVERIFY(p.Listen());
        const QByteArray got = StatusLine(RawAnswer(p.Port(), bytes.replace("%P", QByteArray::number(p.Port()))));
        if (answer.isEmpty())
            QVERIFY2(got.isEmpty() || got.startsWith("HTTP/1.1 4"), got.constData());
        else
            QVERIFY2(got.startsWith(answer), got.constData());
        QVERIFY2(!got.startsWith("HTTP/1.1 2"), got.constData());
        QCOMPARE(p.Get(QStringLiteral("/api/status")).Status, 200);
    }

    // The live feed's own framing: a ping is answered with its payload, a close with a close and
    // the end of the connection; a frame a client did not mask ends it with 1002, an overlong one
    // with 1009.
    void feedFraming_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("opcode");      // of the server's answer
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("ends");
        QTest::newRow("ping") << ClientFrame(0x9, "are you there") << 0xA << QByteArray("are you there") << false;
        QTest::newRow("close") << ClientFrame(0x8, QByteArray("\x03\xe8", 2)) << 0x8 << QByteArray("\x03\xe8", 2) << true;
        QTest::newRow("text is ignored, then ping") << ClientFrame(0x1, "do something") + ClientFrame(0x9, "p") << 0xA << QByteArray("p") << false;
        QTest::newRow("unmasked") << ClientFrame(0x9, "x", false) << 0x8 << QByteArray("\x03\xea", 2) << true;
        QByteArray longFrame("\x81\xff", 2);
        longFrame += QByteArray("\x00\x00\x00\x00\x00\x10\x00\x00", 8) + QByteArray(4, '\0');
        QTest::newRow("a megabyte announced") << longFrame << 0x8 << QByteArray("\x03\xf1", 2) << true;
    }
    void feedFraming()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, opcode);
        QFETCH(QByteArray, payload);
        QFETCH(bool, ends);
        TProgram p;
        QVERIFY(p.Listen());
        QTcpSocket socket;
        QByteArray got = RawAnswer(p.Port(), Upgrade(p.Port(), p.Origin().toUtf8()), &socket);
        QVERIFY(StatusLine(got).startsWith("HTTP/1.1 101"));
        got = got.mid(got.indexOf("\r\n\r\n") + 4);
        // The page's first message comes unasked.
        QTRY_VERIFY_WITH_TIMEOUT(!ServerFrames(got += socket.readAll()).isEmpty(), 5000);
        QCOMPARE(ServerFrames(got).first().first, 0x1);
        got.clear();
        socket.write(frame);
        QTRY_VERIFY_WITH_TIMEOUT(ServerFrames(got += socket.readAll()).size() >= 1
                                     && ServerFrames(got).last().first != 0x1, 5000);
        QCOMPARE(ServerFrames(got).last().first, opcode);
        QCOMPARE(ServerFrames(got).last().second, payload);
        if (ends)
            QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 3000);
        else
            QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }

    // A few live feeds per client address; the next is told so, and one that ends makes room.
    void feedsPerClient()
    {
        TProgram p;
        QVERIFY(p.Listen());
        std::vector<std::unique_ptr<QTcpSocket>> feeds;
        for (int i = 0; i < TWebSockets::PerClient; ++i) {
            feeds.push_back(std::make_unique<QTcpSocket>());
            QVERIFY(StatusLine(RawAnswer(p.Port(), Upgrade(p.Port(), p.Origin().toUtf8()), feeds.back().get())).startsWith("HTTP/1.1 101"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(p.Web->Feeds().Count(), TWebSockets::PerClient, 3000);
        QVERIFY(StatusLine(RawAnswer(p.Port(), Upgrade(p.Port(), p.Origin().toUtf8()))).startsWith("HTTP/1.1 429"));
        feeds.front()->abort();
        QTRY_COMPARE_WITH_TIMEOUT(p.Web->Feeds().Count(), TWebSockets::PerClient - 1, 3000);
        QVERIFY(StatusLine(RawAnswer(p.Port(), Upgrade(p.Port(), p.Origin().toUtf8()))).startsWith("HTTP/1.1 101"));
        // Clients that ask and vanish at once give their places back, whether or not their
        // feed was opened before they went.
        feeds.clear();
        for (int i = 0; i < 3 * TWebSockets::PerClient; ++i) {
            QTcpSocket hasty;
            hasty.connectToHost(QHostAddress::LocalHost, p.Port());
            QVERIFY(hasty.waitForConnected(3000));
            hasty.write(Upgrade(p.Port(), p.Origin().toUtf8()));
            hasty.waitForBytesWritten(1000);
            hasty.abort();
        }
        QTRY_COMPARE_WITH_TIMEOUT(p.Web->Feeds().Count(), 0, 5000);
        // Each place is free once the server has seen its connection close, a moment after.
        const auto opens = [&] {
            feeds.push_back(std::make_unique<QTcpSocket>());
            if (StatusLine(RawAnswer(p.Port(), Upgrade(p.Port(), p.Origin().toUtf8()), feeds.back().get())).startsWith("HTTP/1.1 101"))
                return true;
            feeds.pop_back();
            return false;
        };
        for (int i = 0; i < TWebSockets::PerClient; ++i) {
            bool opened = false; // QTRY evaluates its condition once more after it held
            QTRY_VERIFY_WITH_TIMEOUT(opened || (opened = opens()), 3000);
        }
        QVERIFY(StatusLine(RawAnswer(p.Port(), Upgrade(p.Port(), p.Origin().toUtf8()))).startsWith("HTTP/1.1 429"));
    }

    // A feed whose client answers the pings stays; one that went without a word is let go.
    void feedPings_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::newRow("a browser's socket, answering") << true;
        QTest::newRow("a peer gone silent") << false;
    }
    void feedPings()
    {
        QFETCH(bool, answers);
        TProgram p;
        QVERIFY(p.Listen());
        p.Web->Feeds().SetPingMs(300);
        QWebSocket browser(p.Origin());
        QTcpSocket silent;
        if (answers) {
            browser.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/events").arg(p.Port())));
            QTRY_COMPARE_WITH_TIMEOUT(browser.state(), QAbstractSocket::ConnectedState, 5000);
        } else {
            QVERIFY(StatusLine(RawAnswer(p.Port(), Upgrade(p.Port(), p.Origin().toUtf8()), &silent)).startsWith("HTTP/1.1 101"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(p.Web->Feeds().Count(), 1, 3000);
        QTest::qWait(1500);
        QCOMPARE(p.Web->Feeds().Count(), answers ? 1 : 0);
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
        // Within a refresh and a push of the stream.
        QTRY_COMPARE_WITH_TIMEOUT(p.Json(QStringLiteral("/api/status"))[QStringLiteral("requests")][QStringLiteral("voice_notify")].toInt(), 1, 3000);
        s = p.Json(QStringLiteral("/api/status"));
        QCOMPARE(s[QStringLiteral("platform_link")][QStringLiteral("up")].toBool(), true);
        QCOMPARE(s[QStringLiteral("platform_link")][QStringLiteral("received")].toInt(), 1);
        QVERIFY(!s[QStringLiteral("platform_link")][QStringLiteral("last_received")].toString().isEmpty());
        const QJsonObject first = s[QStringLiteral("channels")].toArray()[0].toObject();
        QCOMPARE(first[QStringLiteral("channel")].toInt(), 0); // 第0路, as the window and the history say
        QCOMPARE(first[QStringLiteral("text")].toString(), QStringLiteral("撤离"));
        QVERIFY(s[QStringLiteral("store")][QStringLiteral("reachable")].toBool());
    }

    // With no program at the control socket the face still serves and says so; it hears the
    // program once it comes, and says so again when it goes.
    void programAbsentAndBack()
    {
        TProgram p(false);
        QVERIFY(p.Listen());
        QVERIFY(!p.Web->Hears());
        auto answer = p.Get(QStringLiteral("/api/status"));
        QCOMPARE(answer.Status, 503);
        QCOMPARE(QJsonDocument::fromJson(answer.Body)[QStringLiteral("message")].toString(), QStringLiteral("主程序未运行"));
        QVERIFY(p.Get(QStringLiteral("/metrics")).Body.contains("\nvarnex_main_up 0\n"));
        QCOMPARE(p.Get(QStringLiteral("/")).Status, 200);
        QWebSocket socket(p.Origin());
        const QList<QJsonObject> &messages = p.Follow(socket);
        QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty(), 5000);
        QCOMPARE(messages.last()[QStringLiteral("running")].toBool(true), false);
        QCOMPARE(messages.last()[QStringLiteral("message")].toString(), QStringLiteral("主程序未运行"));
        // History is the store's, program or not.
        QVERIFY(!messages.last()[QStringLiteral("history")].toArray().isEmpty());

        QVERIFY(p.Control->Listen(p.ControlPath()) == TControlServer::TListen::Listening);
        QTRY_COMPARE_WITH_TIMEOUT(p.Get(QStringLiteral("/api/status")).Status, 200, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(messages.last()[QStringLiteral("running")].toBool(), 3000);
        QCOMPARE(messages.last()[QStringLiteral("channels")].toArray().size(), 8);
        QVERIFY(p.Get(QStringLiteral("/metrics")).Body.contains("\nvarnex_main_up 1\n"));

        p.Control->Close();
        QTRY_COMPARE_WITH_TIMEOUT(p.Get(QStringLiteral("/api/status")).Status, 503, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(messages.last()[QStringLiteral("running")].toBool(true), false, 3000);
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
        int serial = 0;
        for (const char *kind : {"主机通讯恢复", "主机通讯中断", "主机通讯恢复", "测试请求"})
            p.Core->History().Event(QString::fromUtf8(kind), QStringLiteral("e%1").arg(++serial));
        QTRY_VERIFY_WITH_TIMEOUT(p.Json(QStringLiteral("/api/history?q=e4"))[QStringLiteral("entries")].toArray().size() == 1, 5000);
        const QJsonObject page = p.Json(QStringLiteral("/api/history?") + query);
        QStringList got;
        for (const QJsonValue &entry : page[QStringLiteral("entries")].toArray())
            if (entry[QStringLiteral("content")].toString().startsWith(QLatin1Char('e')))
                got << entry[QStringLiteral("content")].toString();
        QCOMPARE(got, contents);
    }

    // Each number of a notification carries what the history holds of it: its name, its key
    // position and when its keys left (the list's own column keeps only the numbers).
    void historyNumbersWhole()
    {
        TProgram p;
        QVERIFY(p.Listen());
        THistory &history = p.Core->History();
        history.Notice(QStringLiteral("语音通知"), 7, QStringLiteral("5"), QStringLiteral("whole numbers"), 1, 0, THistory::Started(),
                       {{QStringLiteral("2007"), QStringLiteral("泵房")}, {QStringLiteral("2008"), QStringLiteral("井口")}},
                       QStringLiteral("5组"));
        history.KeysSent(0, true);
        QJsonArray numbers;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QJsonArray entries = p.Json(QStringLiteral("/api/history?q=whole"))[QStringLiteral("entries")].toArray();
                numbers = entries.isEmpty() ? QJsonArray() : entries[0][QStringLiteral("numbers")].toArray();
                return numbers.size() == 2;
            }(),
            5000);
        QCOMPARE(numbers[0][QStringLiteral("number")].toString(), QStringLiteral("2007"));
        QCOMPARE(numbers[0][QStringLiteral("name")].toString(), QStringLiteral("泵房"));
        QCOMPARE(numbers[1][QStringLiteral("name")].toString(), QStringLiteral("井口"));
        // No key.dat here: the key position the history holds is 无键位 (and no time of its own).
        QCOMPARE(numbers[0][QStringLiteral("key")].toString(), QStringLiteral("无键位"));
    }

    // Pages follow each other by next_before without gaps or repeats; the last has none.
    void historyPaging()
    {
        TProgram p;
        QVERIFY(p.Listen());
        for (int i = 1; i <= 7; ++i)
            p.Core->History().Event(QStringLiteral("测试请求"), QStringLiteral("n%1").arg(i));
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

    // The metrics pass Prometheus' own check, and count what the links did: the histogram of
    // reply times comes through the control socket whole.
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
        QTRY_VERIFY_WITH_TIMEOUT(p.Get(QStringLiteral("/metrics")).Body.contains("\nvarnex_platform_check_failures_total 1\n"), 3000);
        const auto answer = p.Get(QStringLiteral("/metrics"));
        QCOMPARE(answer.Status, 200);
        QVERIFY(answer.Header("Content-Type").startsWith("text/plain; version=0.0.4"));
        const QByteArray text = answer.Body;
        for (const char *line : {"varnex_main_up 1",
                                 "varnex_platform_requests_total{kind=\"voice_notify\"} 1",
                                 "varnex_platform_requests_total{kind=\"group_list\"} 1",
                                 "varnex_platform_reply_seconds_count 2",
                                 "varnex_platform_reply_seconds_bucket{le=\"+Inf\"} 2",
                                 "varnex_platform_check_failures_total 1",
                                 "varnex_link_up{link=\"platform\"} 1",
                                 "varnex_link_up{link=\"switch\"} 0",
                                 "varnex_channel_state{channel=\"7\",state=\"blocked\"} 1",
                                 "varnex_channel_state{channel=\"0\",state=\"idle\"} 0",
                                 "varnex_history_pending ",
                                 "varnex_store_up 1",
                                 "process_start_time_seconds "})
            QVERIFY2(text.contains(QByteArray("\n") + line), qPrintable(line + QStringLiteral(" in\n") + text));
        // The program's start, not the web process's.
        const double started = text.mid(text.indexOf("\nprocess_start_time_seconds ") + 28).split('\n').first().toDouble();
        QVERIFY(qAbs(started * 1000 - double(p.Core->Status().Snapshot().StartedMs)) < 1000);
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

    // The page comes whole from the web face: Chinese, fit for a phone, nothing fetched elsewhere.
    void page()
    {
        TProgram p;
        QVERIFY(p.Listen());
        const auto answer = p.Get(QStringLiteral("/"));
        QCOMPARE(answer.Status, 200);
        QVERIFY(answer.Header("Content-Type").startsWith("text/html"));
        const QString html = QString::fromUtf8(answer.Body);
        QVERIFY(html.contains(QStringLiteral("通道")));
        QVERIFY(html.contains(QStringLiteral("主程序未运行")));
        QVERIFY(html.contains(QStringLiteral("name=\"viewport\"")));
        QVERIFY(!html.contains(QStringLiteral("src=")));
        QVERIFY(!html.contains(QStringLiteral("http://")) && !html.contains(QStringLiteral("https://")));
        QVERIFY(answer.Header("Content-Security-Policy").contains("default-src 'none'"));
        // Its icon too, where the page names it and where browsers look unasked.
        for (const QString &icon : {QStringLiteral("/favicon.svg"), QStringLiteral("/favicon.ico")}) {
            const auto served = p.Get(icon);
            QCOMPARE(served.Status, 200);
            QCOMPARE(served.Header("Content-Type"), QByteArray("image/svg+xml"));
            QVERIFY(served.Body.startsWith("<svg"));
        }
    }

    // The live feed sends the page what changed, and the newest history entries as the store
    // holds them, within a push period.
    void feedFollowsChanges()
    {
        TProgram p;
        QVERIFY(p.Listen());
        QWebSocket socket(p.Origin());
        const QList<QJsonObject> &messages = p.Follow(socket);
        QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty(), 5000);
        QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, VoiceToGroup(5, QStringLiteral("撤离"), 1), 7), int(LdtxFrame::CallNotifyResult));
        QTRY_VERIFY_WITH_TIMEOUT(messages.last()[QStringLiteral("channels")].toArray()[0][QStringLiteral("text")].toString()
                                     == QStringLiteral("撤离"), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!messages.last()[QStringLiteral("history")].toArray().isEmpty()
                                     && messages.last()[QStringLiteral("history")].toArray()[0][QStringLiteral("kind")].toString()
                                            == QStringLiteral("语音通知"),
                                 3000);
        QCOMPARE(messages.last()[QStringLiteral("today")][QStringLiteral("platform_requests")].toInt(), 1);
        QVERIFY(messages.last()[QStringLiteral("running")].toBool());
    }
};

QTEST_GUILESS_MAIN(TstWeb)
#include "tst_web.moc"
