// varnex-sim: the monitoring platform and the dispatching switch, stood in, for commissioning
// and tests. Uses the program's own frame and key-command code; no windows.
#include "host_link/host_frame.h"
#include "keyboard/key_table.h"
#include "platform_link/frame_scanner.h"
#include "platform_link/ldtx_frame.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

QTextStream &Out()
{
    static QTextStream out(stdout);
    return out;
}

int Fail(const QString &text, int code = 2)
{
    std::fprintf(stderr, "varnex-sim: %s\n", text.toLocal8Bit().constData());
    return code;
}

bool HostPort(const QString &text, QHostAddress *host, quint16 *port)
{
    const int colon = int(text.lastIndexOf(QLatin1Char(':')));
    bool ok = false;
    const int p = text.mid(colon + 1).toInt(&ok);
    if (colon <= 0 || !ok || p < 1 || p > 65535 || !host->setAddress(text.left(colon)))
        return false;
    *port = quint16(p);
    return true;
}

struct TReply
{
    uint16_t MessageId = 0;
    uint8_t Type = 0;
    QByteArray Payload;
};

// Frames out of datagrams, with the program's own scanner (check code checked).
class TReplyReader
{
public:
    explicit TReplyReader(QString checkType) : CheckType(std::move(checkType))
    {
        Scanner.OnFrame = [this](uint16_t id, uint8_t, uint8_t type, QByteArrayView payload) {
            Replies.push_back({id, type, payload.toByteArray()});
        };
        Scanner.OnCheckCodeError = [this] { ++BadCodes; };
    }
    void Take(const QByteArray &datagram)
    {
        for (const char c : datagram)
            Scanner.Store(uint8_t(c));
        while (Scanner.Scan(CheckType)) {
        }
    }
    QString CheckType;
    TFrameScanner Scanner;
    std::vector<TReply> Replies;
    int BadCodes = 0;
};

// The rows of a reply as text; false when the payload does not hold what its count says.
bool Describe(const TReply &reply, QStringList *lines)
{
    const QByteArray &p = reply.Payload;
    *lines << QStringLiteral("reply type %1 (%2), message %3, %4 bytes")
                  .arg(reply.Type)
                  .arg(LdtxFrame::MessageTypeName(reply.Type))
                  .arg(reply.MessageId)
                  .arg(p.size());
    if (p.isEmpty())
        return false;
    const int count = uint8_t(p[0]);
    qsizetype at = 1;
    const bool named = reply.Type == LdtxFrame::GroupListQuery || reply.Type == LdtxFrame::DeviceStatusQuery;
    const bool status = reply.Type == LdtxFrame::DeviceStatusQuery;
    if (reply.Type == LdtxFrame::CallNotifyResult) {
        // The numbers that will be called, with a byte each.
        *lines << QStringLiteral("%1 numbers").arg(count);
        if (p.size() != 1 + qsizetype(count) * 5)
            return false;
        for (int r = 0; r < count; ++r, at += 5)
            *lines << QStringLiteral("  %1").arg(qFromLittleEndian<int32_t>(p.constData() + at));
        return true;
    }
    *lines << QStringLiteral("%1 rows").arg(count);
    for (int r = 0; r < count && named; ++r) {
        if (at + 5 > p.size())
            return false;
        const int32_t number = qFromLittleEndian<int32_t>(p.constData() + at);
        const int length = uint8_t(p[at + 4]);
        at += 5;
        if (at + length + (status ? 1 : 0) > p.size())
            return false;
        QString line = QStringLiteral("  %1 %2").arg(number).arg(QString::fromUtf8(p.mid(at, length)));
        at += length;
        if (status)
            line += QStringLiteral(" status %1").arg(uint8_t(p[at++]));
        *lines << line;
    }
    return !named || at == p.size();
}

int Platform(const QCommandLineParser &args, const QStringList &command)
{
    QHostAddress to;
    quint16 toPort = 0;
    if (!HostPort(args.value(QStringLiteral("to")), &to, &toPort))
        return Fail(QStringLiteral("--to HOST:PORT is needed (the program's platform receive port)"));
    const QString checkType = args.value(QStringLiteral("check-type"));
    QByteArray payload;
    uint8_t type = 0;
    const QString verb = command.value(0);
    bool ok = true;
    if (verb == QLatin1String("group-list")) {
        type = LdtxFrame::GroupListQuery;
    } else if (verb == QLatin1String("device-status")) {
        type = LdtxFrame::DeviceStatusQuery;
    } else if (verb == QLatin1String("voice") && command.size() == 4) {
        type = LdtxFrame::VoiceNotify;
        bool okGroup = false, okCount = false;
        const int group = command[1].toInt(&okGroup), count = command[3].toInt(&okCount);
        ok = okGroup && okCount && count >= 0 && count < 256;
        payload = QByteArray(1, char(0)) + LdtxFrame::Le32(group) + char(2) + command[2].toUtf8() + char(count);
    } else if (verb == QLatin1String("call") && command.size() == 3) {
        type = LdtxFrame::PhoneCall;
        bool okCaller = false, okCalled = false;
        const int caller = command[1].toInt(&okCaller), called = command[2].toInt(&okCalled);
        ok = okCaller && okCalled;
        payload = QByteArray(8, 0);
        qToLittleEndian<uint16_t>(uint16_t(caller), payload.data());
        qToLittleEndian<uint16_t>(uint16_t(called), payload.data() + 4);
    } else if (verb == QLatin1String("raw") && command.size() == 2) {
        const QByteArray raw = QByteArray::fromHex(command[1].toLatin1());
        ok = !raw.isEmpty();
        payload = raw; // sent as it is, frame and all
    } else {
        return Fail(QStringLiteral("platform: group-list | device-status | voice GROUP TEXT COUNT | call CALLER CALLED | raw HEX"));
    }
    if (!ok)
        return Fail(QStringLiteral("platform %1: bad arguments").arg(command.join(QLatin1Char(' '))));

    QUdpSocket socket;
    if (!socket.bind(QHostAddress::AnyIPv4, quint16(args.value(QStringLiteral("listen")).toUInt())))
        return Fail(QStringLiteral("cannot listen: ") + socket.errorString());
    TReplyReader reader(checkType);
    const int repeat = std::max(1, args.value(QStringLiteral("repeat")).toInt());
    const double rate = std::max(1.0, args.value(QStringLiteral("rate")).toDouble());
    const int timeoutMs = std::max(1, args.value(QStringLiteral("timeout")).toInt());
    std::map<uint16_t, qint64> sentAt;
    std::vector<double> micros;
    QElapsedTimer clock;
    clock.start();
    const auto frameFor = [&](uint16_t id) {
        if (verb == QLatin1String("raw"))
            return payload;
        return LdtxFrame::Build(payload, type, LdtxFrame::MonitorRequest, id, checkType)->Bytes;
    };
    const auto drain = [&] {
        while (socket.hasPendingDatagrams())
            reader.Take(socket.receiveDatagram().data());
        for (const TReply &r : reader.Replies)
            if (auto it = sentAt.find(r.MessageId); it != sentAt.end()) {
                micros.push_back(double(clock.nsecsElapsed() / 1000 - it->second));
                sentAt.erase(it);
            }
    };
    std::vector<TReply> all;
    for (int i = 0; i < repeat; ++i) {
        const auto id = uint16_t(i);
        const qint64 due = qint64(i * 1e6 / rate);
        while (clock.nsecsElapsed() / 1000 < due) {
            socket.waitForReadyRead(0);
            drain();
            all.insert(all.end(), reader.Replies.begin(), reader.Replies.end());
            reader.Replies.clear();
        }
        sentAt[id] = clock.nsecsElapsed() / 1000;
        socket.writeDatagram(frameFor(id), to, toPort);
    }
    const qint64 end = clock.elapsed() + timeoutMs;
    while (!sentAt.empty() && clock.elapsed() < end) {
        socket.waitForReadyRead(20);
        drain();
        all.insert(all.end(), reader.Replies.begin(), reader.Replies.end());
        reader.Replies.clear();
    }
    if (repeat > 1) {
        std::sort(micros.begin(), micros.end());
        const auto pct = [&micros](double p) { return micros.empty() ? 0.0 : micros[std::min(micros.size() - 1, size_t(micros.size() * p))]; };
        Out() << QStringLiteral("%1 requests at %2/s: %3 answered, %4 lost (%5 %), latency p50 %6 µs, p99 %7 µs\n")
                     .arg(repeat).arg(rate).arg(micros.size()).arg(sentAt.size())
                     .arg(100.0 * double(sentAt.size()) / repeat, 0, 'f', 2).arg(pct(0.5), 0, 'f', 0).arg(pct(0.99), 0, 'f', 0);
        Out().flush();
        return reader.BadCodes > 0 ? 1 : 0;
    }
    if (all.empty()) {
        Out() << (reader.BadCodes ? QStringLiteral("malformed reply (check code)\n") : QStringLiteral("no reply\n"));
        Out().flush();
        return reader.BadCodes ? 1 : 3;
    }
    QStringList lines;
    const bool wellFormed = Describe(all.front(), &lines);
    Out() << lines.join(QLatin1Char('\n')) << '\n';
    if (!wellFormed)
        Out() << "malformed reply\n";
    Out().flush();
    return wellFormed ? 0 : 1;
}

int Switch(const QCommandLineParser &args)
{
    QHostAddress to;
    quint16 toPort = 0;
    if (!HostPort(args.value(QStringLiteral("to")), &to, &toPort))
        return Fail(QStringLiteral("--to HOST:PORT is needed (the program's switch receive port)"));
    TKeyTable keys;
    const QString keyFile = args.value(QStringLiteral("key-file"));
    if (!keyFile.isEmpty()) {
        QString why;
        if (!keys.Load(keyFile, &why))
            return Fail(QStringLiteral("cannot read %1: %2").arg(keyFile, why));
    }
    auto *socket = new QUdpSocket(qApp);
    if (!socket->bind(QHostAddress::AnyIPv4, quint16(args.value(QStringLiteral("listen")).toUInt())))
        return Fail(QStringLiteral("cannot listen: ") + socket->errorString());
    const int wanted = args.value(QStringLiteral("count")).toInt();
    int seen = 0, malformed = 0;
    QByteArray stream;
    // A sign of life every second keeps the program's switch link up.
    auto *alive = new QTimer(qApp);
    QObject::connect(alive, &QTimer::timeout, socket, [socket, to, toPort] { socket->writeDatagram(QByteArray(1, char(0x5A)), to, toPort); });
    alive->start(1000);
    socket->writeDatagram(QByteArray(1, char(0x5A)), to, toPort);
    Out() << QStringLiteral("switch: listening on %1, keeping %2:%3 up\n").arg(socket->localPort()).arg(to.toString()).arg(toPort);
    Out().flush();
    QObject::connect(socket, &QUdpSocket::readyRead, socket, [&, socket] {
        while (socket->hasPendingDatagrams()) {
            stream += socket->receiveDatagram().data();
            for (;;) {
                QString error;
                const qsizetype before = stream.size();
                const auto key = HostFrame::TakeKeyCommand(stream, &error);
                if (!error.isEmpty()) {
                    ++malformed;
                    Out() << QStringLiteral("malformed: %1\n").arg(error);
                } else if (key) {
                    ++seen;
                    const int32_t value = key->Module < 17 ? keys.Key(key->Keyboard & 7, key->Module, key->Column, key->Row) : 0;
                    Out() << QStringLiteral("key keyboard %1 module %2 column %3 row %4 number %5\n")
                                 .arg(key->Keyboard).arg(key->Module).arg(key->Column).arg(key->Row)
                                 .arg(value ? TKeyTable::GetKeyName(value) : QStringLiteral("-"));
                } else if (stream.size() == before) {
                    break; // waits for more bytes
                }
                Out().flush();
                if (wanted > 0 && seen >= wanted)
                    QCoreApplication::exit(malformed ? 1 : 0);
            }
        }
    });
    const int seconds = args.value(QStringLiteral("seconds")).toInt();
    if (seconds > 0)
        QTimer::singleShot(seconds * 1000, qApp, [&] { QCoreApplication::exit(malformed ? 1 : 0); });
    return QCoreApplication::exec();
}

// A key.dat for a drill: the numbers on keyboard's number keys from module 1 on (module 0 is
// where consoles keep their function keys), every other key empty.
int Keys(const QCommandLineParser &args, const QStringList &numbers)
{
    const QString out = args.value(QStringLiteral("out"));
    bool ok = false;
    const int keyboard = args.value(QStringLiteral("keyboard")).toInt(&ok);
    if (out.isEmpty() || !ok || keyboard < 0 || keyboard >= TKeyTable::Keyboards)
        return Fail(QStringLiteral("keys needs --out FILE and --keyboard 0..7"));
    if (QFileInfo::exists(out) && !args.isSet(QStringLiteral("force")))
        return Fail(QStringLiteral("%1 exists; --force replaces it").arg(out), 1);
    QList<int32_t> values;
    for (const QString &item : numbers) {
        // NUMBER or FIRST-LAST
        const QStringList ends = item.split(QLatin1Char('-'));
        bool firstOk = false, lastOk = ends.size() == 1;
        const int first = ends[0].toInt(&firstOk);
        const int last = ends.size() == 2 ? ends[1].toInt(&lastOk) : first;
        if (ends.size() > 2 || !firstOk || !lastOk || first <= 0 || last < first || last - first >= TKeyTable::SearchedKeys)
            return Fail(QStringLiteral("not a number or FIRST-LAST: ") + item);
        for (int number = first; number <= last; ++number)
            values << number;
    }
    constexpr int FirstKey = 64; // module 1, column 0, row 0
    if (values.isEmpty() || values.size() > TKeyTable::SearchedKeys - FirstKey)
        return Fail(QStringLiteral("keys takes 1 to %1 numbers").arg(TKeyTable::SearchedKeys - FirstKey));
    TKeyTable table;
    for (qsizetype i = 0; i < values.size(); ++i)
        table.KeyTable[size_t(keyboard * TKeyTable::KeysPerKeyboard + FirstKey + i)] = values[i];
    QString why;
    if (!table.Save(out, &why))
        return Fail(QStringLiteral("cannot write %1: %2").arg(out, why), 1);
    Out() << QStringLiteral("keys: %1 numbers on keyboard %2 written to %3\n").arg(values.size()).arg(keyboard).arg(out);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnex-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEX_VERSION));
    QCommandLineParser args;
    args.setApplicationDescription(QStringLiteral(
        "Stands in for the monitoring platform or the dispatching switch.\n"
        "  varnex-sim platform --to HOST:PORT --listen PORT [--check-type T] [--repeat N --rate R]\n"
        "             group-list | device-status | voice GROUP TEXT COUNT | call CALLER CALLED | raw HEX\n"
        "  varnex-sim switch --listen PORT --to HOST:PORT [--key-file key.dat] [--count N] [--seconds S]\n"
        "  varnex-sim keys --keyboard K --out key.dat [--force] NUMBER|FIRST-LAST ...\n"
        "             a key.dat for a drill: the numbers on keyboard K's keys from module 1 on"));
    args.addHelpOption();
    args.addVersionOption();
    args.addPositionalArgument(QStringLiteral("mode"), QStringLiteral("platform, switch or keys"));
    args.addOptions({
        {QStringLiteral("to"), QStringLiteral("the program's receive address"), QStringLiteral("host:port")},
        {QStringLiteral("listen"), QStringLiteral("our own UDP port (where the program sends)"), QStringLiteral("port"), QStringLiteral("0")},
        {QStringLiteral("check-type"), QStringLiteral("CRC-16/MODBUS or CRC-16/IBM"), QStringLiteral("type"), QStringLiteral("CRC-16/MODBUS")},
        {QStringLiteral("repeat"), QStringLiteral("requests to send"), QStringLiteral("n"), QStringLiteral("1")},
        {QStringLiteral("rate"), QStringLiteral("requests a second"), QStringLiteral("r"), QStringLiteral("1000")},
        {QStringLiteral("timeout"), QStringLiteral("wait for replies, ms"), QStringLiteral("ms"), QStringLiteral("2000")},
        {QStringLiteral("key-file"), QStringLiteral("key.dat to name the keys pressed"), QStringLiteral("file")},
        {QStringLiteral("count"), QStringLiteral("switch: stop after this many key commands"), QStringLiteral("n"), QStringLiteral("0")},
        {QStringLiteral("seconds"), QStringLiteral("switch: stop after this long"), QStringLiteral("s"), QStringLiteral("0")},
        {QStringLiteral("keyboard"), QStringLiteral("keys: the keyboard, 0 to 7"), QStringLiteral("k")},
        {QStringLiteral("out"), QStringLiteral("keys: the key.dat to write"), QStringLiteral("file")},
        {QStringLiteral("force"), QStringLiteral("keys: replace --out when it exists")},
    });
    args.process(app);
    const QStringList positional = args.positionalArguments();
    if (positional.value(0) == QLatin1String("platform"))
        return Platform(args, positional.mid(1));
    if (positional.value(0) == QLatin1String("switch"))
        return Switch(args);
    if (positional.value(0) == QLatin1String("keys"))
        return Keys(args, positional.mid(1));
    return Fail(QStringLiteral("say platform, switch or keys (--help)"));
}
