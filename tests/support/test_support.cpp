#include "support/test_support.h"

#include "directory/directory.h"
#include "support/pg_server.h"

#include <QDeadlineTimer>
#include <QSqlError>
#include <QTest>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QUdpSocket>

#include <memory>
#include <vector>

#include <QFileInfo>
#include <QSqlDatabase>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtEndian>
#include <QNetworkDatagram>
#include <QTest>

#include "platform_link/ldtx_frame.h"

bool TRecordingPlayer::Open(const QString &path)
{
    Calls << QStringLiteral("open ") + QFileInfo(path).fileName();
    return OpenSucceeds;
}

namespace TestSupport {

namespace {
QString FromTestFolder(const char *relative, const QString &path)
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(relative)
                           + QLatin1Char('/') + path);
}
} // namespace

QString SourcePath(const QString &relative)
{
    return FromTestFolder(VARNEX_SOURCE_FROM_TESTS, relative);
}

QString BuildPath(const QString &relative)
{
    return FromTestFolder(VARNEX_BUILD_FROM_TESTS, relative);
}

QProcessEnvironment ProgramEnvironment(const QTemporaryDir &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NOTIFY_SOCKET", "JOURNAL_STREAM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), RuntimeFolder(dir));
    return env;
}

TCoreOptions CoreOptions(const QTemporaryDir &dir, const QStringList &settingsLines, TSoundPlayer *player)
{
    TCoreOptions options;
    options.SettingsPath = WriteSettings(dir, settingsLines);
    options.ProgramDir = dir.path();
    options.KeyFile = dir.filePath(QStringLiteral("key.dat"));
    options.Player = player;
    return options;
}

std::unique_ptr<TVarnexCore> StartCore(const QTemporaryDir &dir, const QStringList &settingsLines, TSoundPlayer *player)
{
    const QList<int> ports = FreeUdpPorts(4);
    // The switch's CPUs on loopback too: a test that makes the switch link up and dials must not
    // send key commands to the plant's default addresses.
    const QStringList defaults{QStringLiteral("CommIpAddress=127.0.0.1"), QStringLiteral("CommIpPort=%1").arg(ports[0]),
                               QStringLiteral("CommRecIpPort=%1").arg(ports[1]),
                               QStringLiteral("RecIpPort=%1").arg(ports[2]),
                               QStringLiteral("IpAddress=127.0.0.1"), QStringLiteral("IpAddress1=127.0.0.1"),
                               QStringLiteral("IpPort=%1").arg(ports[3])};
    // A test's own line for a name replaces the default (the file gets each name once).
    QStringList lines = settingsLines;
    for (const QString &line : defaults) {
        const QString name = line.section(QLatin1Char('='), 0, 0) + QLatin1Char('=');
        if (lines.filter(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(name),
                                            QRegularExpression::CaseInsensitiveOption)).isEmpty())
            lines.append(line);
    }
    // A test program that runs on both stores starts its cores on a fresh database of the
    // server in its server row.
    if (OnServer() && lines.filter(QRegularExpression(QStringLiteral("^DatabaseUrl="), QRegularExpression::CaseInsensitiveOption)).isEmpty())
        lines.append(QStringLiteral("DatabaseUrl=") + StoreUrl());
    auto core = std::make_unique<TVarnexCore>(CoreOptions(dir, lines, player));
    core->FormCreate();
    return core;
}

bool CopyCaughtUp(TDirectory &directory, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        directory.Copy().Rows();
        if (directory.Copy().IsCurrent())
            return true;
        QTest::qWait(5);
    }
    return false;
}

QStringList PlaceRows(const TStorePlace &place, const QString &statement)
{
    const QString name = QStringLiteral("test-place-rows");
    QStringList rows;
    {
        QSqlDatabase db = place.Add(name, QStringLiteral("test"), false, 1000);
        if (!db.open())
            return {db.lastError().text()};
        rows = SqlRows(name, statement);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

QStringList SqlRows(const QString &connection, const QString &statement)
{
    QSqlQuery q(QSqlDatabase::database(connection));
    q.exec(statement);
    QStringList rows;
    while (q.next()) {
        QStringList values;
        for (int i = 0; i < q.record().count(); ++i)
            values << (q.value(i).isNull() ? QStringLiteral("NULL") : q.value(i).toString());
        rows << values.join(QLatin1Char('|'));
    }
    return rows;
}

QByteArray KeyFile(const QList<QPair<int, int32_t>> &keys)
{
    QByteArray bytes(TKeyTable::FileSize, 0);
    for (const auto &key : keys)
        qToLittleEndian<int32_t>(key.second, bytes.data() + key.first * 4);
    return bytes;
}

int AskCount(QUdpSocket &platform, int port, uint8_t type)
{
    while (platform.hasPendingDatagrams())
        platform.receiveDatagram();
    platform.writeDatagram(LdtxFrame::Build({}, type, 0, 1, QStringLiteral("CRC-16/MODBUS"))->Bytes, QHostAddress::LocalHost,
                           quint16(port));
    if (!QTest::qWaitFor([&] { return platform.hasPendingDatagrams(); }, 5000))
        return -1;
    const QByteArray reply = platform.receiveDatagram().data();
    return reply.size() > 10 ? uint8_t(reply[10]) : -1;
}

int Ask(QUdpSocket &platform, int port, uint8_t type, const QByteArray &payload, uint16_t id)
{
    while (platform.hasPendingDatagrams())
        platform.receiveDatagram();
    platform.writeDatagram(LdtxFrame::Build(payload, type, 0, id, QStringLiteral("CRC-16/MODBUS"))->Bytes, QHostAddress::LocalHost,
                           quint16(port));
    int replyType = -1;
    (void)QTest::qWaitFor([&] {
        while (platform.hasPendingDatagrams()) {
            const QByteArray reply = platform.receiveDatagram().data();
            if (reply.size() > 9)
                replyType = uint8_t(reply[9]);
        }
        return replyType >= 0;
    }, 3000);
    return replyType;
}

int FreeUdpPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::AnyIPv4, 0))
        return 0;
    return probe.localPort();
}

QByteArray THttpAnswer::Header(const QByteArray &name) const
{
    for (const auto &[key, value] : Headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return QByteArray();
}

THttpAnswer Http(const QByteArray &method, const QString &url, const QList<QPair<QByteArray, QByteArray>> &headers,
                 const QByteArray &body)
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = method == "HEAD" ? manager.head(request) : manager.sendCustomRequest(request, method, body);
    THttpAnswer answer;
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000)) {
        reply->abort();
        delete reply;
        return answer;
    }
    answer.Status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.Body = reply->readAll();
    answer.Headers = reply->rawHeaderPairs();
    delete reply;
    return answer;
}

int FreeTcpPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QList<int> FreeUdpPorts(int n)
{
    std::vector<std::unique_ptr<QUdpSocket>> probes;
    QList<int> ports;
    for (int i = 0; i < n; ++i) {
        probes.push_back(std::make_unique<QUdpSocket>());
        if (!probes.back()->bind(QHostAddress::AnyIPv4, 0))
            return {};
        ports << probes.back()->localPort();
    }
    return ports;
}

QByteArray Hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QString WriteSettings(const QTemporaryDir &dir, const QStringList &lines)
{
    const QString path = dir.filePath(QStringLiteral("Zelvane.conf"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    return path;
}

QString RuntimeFolder(const QTemporaryDir &dir)
{
    const QString folder = dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return folder;
}

QByteArray VoiceToGroup(int group, const QString &text, int count)
{
    return QByteArray(1, char(0)) + LdtxFrame::Le32(group) + char(2) + text.toUtf8() + char(count);
}

QByteArray Call(int caller, int called)
{
    QByteArray p(8, 0);
    p[0] = char(caller & 0xFF);
    p[1] = char(caller >> 8);
    p[4] = char(called & 0xFF);
    p[5] = char(called >> 8);
    return p;
}

} // namespace TestSupport
