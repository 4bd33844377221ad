#include "platform_link/ldtx_frame.h"
#include "app/varnex_core.h"
#include "support/pg_server.h"
#include "support/test_support.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

using TestSupport::Hex;

namespace {

QByteArray Le32(int32_t v)
{
    QByteArray b(4, Qt::Uninitialized);
    qToLittleEndian<int32_t>(v, b.data());
    return b;
}

QByteArray VoicePayload(uint8_t playType, int32_t target, uint8_t mode, const QByteArray &content, uint8_t times)
{
    return QByteArray(1, char(playType)) + Le32(target) + char(mode) + content + char(times);
}

// A started core whose platform is a socket of this test, with a directory to fill.
struct TPlatform
{
    QTemporaryDir Dir;
    QUdpSocket Peer;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;
    QStringList Traced;

    explicit TPlatform(const QStringList &extra = {})
    {
        Peer.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Core = TestSupport::StartCore(
            Dir, QStringList{QStringLiteral("CommIpPort=%1").arg(Peer.localPort()), QStringLiteral("ifUse0=是")} + extra,
            &Player);
        QObject::connect(&Core->TraceSink(), &TTraceSink::Traced, &Peer, [this](const QString &t) { Traced << t; });
    }

    void Group(int number, const QString &name)
    {
        static int sequence = 0;
        Core->Directory().Query().Execute(
            QStringLiteral("insert into \"Group\"(GroupNum, sequence, GroupName) values (?, ?, ?)"),
            {number, ++sequence + number * 1000, name});
    }
    void Phone(int number, const QString &name, const QString &status = QString(), const QStringList &groups = {})
    {
        QVERIFY(Core->Directory().AddTelNumber(QString::number(number), name, QString(), groups, status, QString()).isEmpty());
    }

    // Serves one request and returns the replies' payloads (empty list: no reply).
    QList<QByteArray> Request(uint8_t type, const QByteArray &payload = QByteArray(), uint8_t direction = 0,
                              uint16_t id = 7)
    {
        // On a server the copy reads this test's writes a moment after them.
        TestSupport::CopyCaughtUp(Core->Directory());
        Core->Dispatcher().ExecOnCommCommand(id, direction, type, payload);
        QList<QByteArray> replies;
        QTest::qWait(30);
        while (Peer.hasPendingDatagrams()) {
            const QByteArray frame = Peer.receiveDatagram(70000).data();
            LastReply = frame;
            replies << frame.mid(10, frame.size() - 12);
        }
        return replies;
    }
    QByteArray LastReply;
    TPlayChn &Channel0() { return Core->Channels().Channel(0); }
    QStringList Lines() const { return Core->CommMsg().Lines(); }
};

} // namespace

class TstDispatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase_data() { TestSupport::EnginesData(); }
    void init() { VARNEX_INIT_ENGINE(); }

    void headerLine_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("line");
        QTest::newRow("group list") << 5 << 0 << 0 << "[消息ID:5][消息方向:0 安全监控系统发起][消息类型:0 分组信息列表获取接口]";
        QTest::newRow("same kind, other ID") << 65535 << 0 << 0
                                             << "[消息ID:65535][消息方向:0 安全监控系统发起][消息类型:0 分组信息列表获取接口]";
        QTest::newRow("direction 2") << 0 << 2 << 1 << "[消息ID:0][消息方向:2 调度通信系统发起][消息类型:1 通信设备状态获取接口]";
        QTest::newRow("unknown type") << 10 << 1 << 7 << "[消息ID:10][消息方向:1 调度通信系统回复][消息类型:7";
        QTest::newRow("unknown both") << 5 << 7 << 9 << "[消息ID:5][消息方向:7[消息类型:9";
        QTest::newRow("unknown both, again") << 6 << 7 << 9 << "[消息ID:6][消息方向:7[消息类型:9";
    }
    void headerLine()
    {
        QFETCH(int, id);
        QFETCH(int, direction);
        QFETCH(int, type);
        QFETCH(QString, line);
        QCOMPARE(TRequestDispatcher::HeaderLine(uint16_t(id), uint8_t(direction), uint8_t(type)), line);
    }

    void groupList()
    {
        TPlatform p;
        QCOMPARE(p.Request(0), QList<QByteArray>{Hex("00")});
        QCOMPARE(p.Lines().mid(1, 2), (QStringList{"[消息ID:7][消息方向:0 安全监控系统发起][消息类型:0 分组信息列表获取接口]",
                                                   "应答分组信息列表获取接口: 分组个数=0"}));
        QCOMPARE(p.LastReply.mid(0, 10), Hex("4C4454580500 0700 01 00"));

        p.Group(1, QStringLiteral("1组"));
        p.Group(2, QString(20, QChar(u'瓦'))); // 60 UTF-8 bytes: cut to 16 whole characters
        const QByteArray cut = QString(16, QChar(u'瓦')).toUtf8();
        QCOMPARE(p.Request(0, Hex("FFFF")), QList<QByteArray>{Hex("02") + Le32(1) + char(4) + QStringLiteral("1组").toUtf8()
                                                               + Le32(2) + char(cut.size()) + cut});
    }

    // Another program (another machine's, on a server) adds a group: the platform's next
    // group lists carry it, without this program writing or being told.
    void anotherProgramsGroupIsAnswered()
    {
        TPlatform p;
        const int port = p.Core->Config().CommRecIpPort;
        QCOMPARE(TestSupport::AskCount(p.Peer, port, 0), 0);
        {
            QSqlDatabase other = p.Core->DirectoryStore().AddConnection(QStringLiteral("other"), QStringLiteral("test"), false);
            QVERIFY(other.open());
            QSqlQuery insert(other);
            QVERIFY(insert.exec(QStringLiteral("insert into \"Group\"(GroupNum, sequence, GroupName) values (9, 1, '九采区')")));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        QTRY_COMPARE_WITH_TIMEOUT(TestSupport::AskCount(p.Peer, port, 0), 1, 3000);
    }

    void deviceStatus()
    {
        TPlatform p;
        p.Phone(2001, QStringLiteral("井口"), QStringLiteral("1"));
        p.Phone(2002, QStringLiteral("b"), QStringLiteral("256"));
        p.Phone(2003, QString());
        QCOMPARE(p.Request(1), QList<QByteArray>{Hex("03") + Le32(2001) + char(6) + QStringLiteral("井口").toUtf8() + char(1)
                                                  + Le32(2002) + char(1) + 'b' + char(0) + Le32(2003) + char(0) + char(0)});
        QVERIFY(p.Lines().last().startsWith(QStringLiteral("发送:4C 44 54 58 1E 00 07 00 01 01 03 ")));
    }

    void repliesCarryWhatTheyCount()
    {
        // 40 telephones with 50-byte names: rows of 56 bytes; the 25th crosses 1400 and is the last.
        TPlatform p;
        for (int i = 0; i < 40; ++i)
            p.Phone(3000 + i, QString(50, QLatin1Char('n')));
        const QList<QByteArray> devices = p.Request(1);
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices[0].size(), 1 + 25 * 56);
        QCOMPARE(uint8_t(devices[0][0]), uint8_t(25));
        QVERIFY(p.Traced.contains(QStringLiteral("分组数据太长，需要小于1460字节")));

        // Groups adding up to exactly 1400 bytes: the next 55-byte row would not fit one frame,
        // so it is left out and the reply is still sent.
        for (int g = 1; g <= 25; ++g)
            p.Group(g, QString(50, QLatin1Char('g')));
        p.Group(26, QString(19, QLatin1Char('h')));
        p.Group(27, QString(50, QLatin1Char('i')));
        const QList<QByteArray> groups = p.Request(0);
        QCOMPARE(groups.size(), 1);
        QCOMPARE(groups[0].size(), 1400);
        QCOMPARE(uint8_t(groups[0][0]), uint8_t(26));
    }

    void voiceNotifyGroup()
    {
        TPlatform p;
        p.Phone(2001, QStringLiteral("井口"), {}, {"3"});
        p.Phone(2002, QStringLiteral("绞车"), {}, {"1", "3"});
        p.Phone(2003, QStringLiteral("泵房"), {}, {"03"});
        const QList<QByteArray> replies = p.Request(2, VoicePayload(0, 3, 2, QStringLiteral("撤离2").toUtf8(), 2));
        QCOMPARE(replies, QList<QByteArray>{Hex("02") + Le32(2001) + char(0) + Le32(2002) + char(0)});
        QCOMPARE(uint8_t(p.LastReply[9]), uint8_t(4));
        TPlayChn &chn = p.Channel0();
        const QString summary = QStringLiteral("应答语音通知接口: 组号=3 电话个数=2 播报内容=撤离2 播报次数=2");
        QCOMPARE(chn.NumberMemo.Lines(), (QStringList{"播放的号码显示", summary, "井口 2001", "绞车 2002"}));
        QCOMPARE(chn.CallTypeLabel, QStringLiteral("组号=3播放文本"));
        QCOMPARE(chn.TotalLabel, QStringLiteral("2"));
        QCOMPARE(chn.PlayCountLabel, QStringLiteral("2"));
        QVERIFY(QDateTime::fromString(chn.StartTimeLabel, QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
        QCOMPARE(chn.PlayText, QStringLiteral("撤离2"));
        QCOMPARE(chn.CalledCount, 2);
        QCOMPARE(chn.State, uint8_t(ChnOffHook));
        QCOMPARE(p.Player.Calls.first(), QStringLiteral("open w2.wav"));
        QVERIFY(p.Lines().contains(summary));
    }

    // A member is found whichever of its eight group slots names the group.
    void memberInEverySlot_data()
    {
        QTest::addColumn<int>("slot");
        for (int slot = 1; slot <= 8; ++slot)
            QTest::newRow(qPrintable(QStringLiteral("GroupNo%1").arg(slot))) << slot;
    }
    void memberInEverySlot()
    {
        QFETCH(int, slot);
        TPlatform p;
        QStringList groups;
        for (int other = 1; other < slot; ++other)
            groups << QString::number(90 + other);
        groups << QStringLiteral("7");
        p.Phone(2001, QStringLiteral("井口"), {}, groups);
        p.Phone(2002, QStringLiteral("绞车"), {}, {"91"});
        QCOMPARE(p.Request(2, VoicePayload(0, 7, 0, "x", 1)), QList<QByteArray>{Hex("01") + Le32(2001) + char(0)});
        QCOMPARE(p.Channel0().CalledCount, 1);
        QCOMPARE(p.Channel0().CalledNumbers[0], 2001);
    }

    void voiceNotifyLargeGroup()
    {
        TPlatform p;
        for (int i = 0; i < 500; ++i)
            p.Phone(10000 + i, QString(), {}, {"9"});
        const QList<QByteArray> replies = p.Request(2, VoicePayload(0, 9, 0, QByteArray(), 1));
        QCOMPARE(replies.size(), 1);
        QCOMPARE(uint8_t(replies[0][0]), uint8_t(255));
        QCOMPARE(replies[0].size(), 1 + 255 * 5);
        QCOMPARE(p.Channel0().CalledCount, 384);
        QCOMPARE(p.Channel0().CalledNumbers[383], 10383);
        QCOMPARE(p.Channel0().TotalLabel, QStringLiteral("500"));
    }

    void voiceNotifyOneNumber()
    {
        TPlatform p;
        TPlayChn &chn = p.Channel0();
        // 7 bytes: an empty content is served.
        QCOMPARE(p.Request(2, VoicePayload(1, 2005, 1, QByteArray(), 1)), QList<QByteArray>{Hex("01") + Le32(2005) + char(0)});
        QCOMPARE(chn.CalledCount, 1);
        QCOMPARE(chn.CalledNumbers[0], 2005);
        QCOMPARE(chn.CallTypeLabel, QStringLiteral("指定号码播放预案"));
        QCOMPARE(chn.TotalLabel, QStringLiteral("1"));
        QCOMPARE(chn.State, uint8_t(ChnOffHook));
        QCOMPARE(chn.NumberMemo.Lines().mid(1),
                 (QStringList{"应答语音通知接口: 指定号码=2005 播报内容= 播报次数=1", "2005"}));
    }

    // Notifications that arrive while channel 0 is busy are answered as usual, leave the
    // running one's box and numbers alone, and are carried out afterwards, in order, each with
    // its own text, numbers and mode.
    void busyChannelKeepsWhatArrives()
    {
        TPlatform p;
        p.Phone(2001, QStringLiteral("井口"), {}, {"4"});
        p.Phone(2002, QStringLiteral("绞车"), {}, {"5"});
        TPlayChn &chn = p.Channel0();
        QCOMPARE(p.Request(2, VoicePayload(0, 4, 0, QStringLiteral("撤离1").toUtf8(), 3), 0, 1).size(), 1);
        const QString startTime = chn.StartTimeLabel;
        const QStringList numberLines = chn.NumberMemo.Lines();
        QCOMPARE(p.Request(2, VoicePayload(0, 5, 2, QStringLiteral("瓦斯2").toUtf8(), 2), 0, 2),
                 QList<QByteArray>{Hex("01") + Le32(2002) + char(0)});
        QCOMPARE(p.Request(2, VoicePayload(1, 2003, 1, QStringLiteral("注意5").toUtf8(), 1), 0, 3),
                 QList<QByteArray>{Hex("01") + Le32(2003) + char(0)});
        QCOMPARE(chn.PlayText, QStringLiteral("撤离1"));
        QCOMPARE(chn.CallTypeLabel, QStringLiteral("组号=4播放文件"));
        QCOMPARE(chn.PlayCountLabel, QStringLiteral("3"));
        QCOMPARE(chn.StartTimeLabel, startTime);
        QCOMPARE(chn.NumberMemo.Lines(), numberLines);
        QCOMPARE(chn.CalledCount, 1);
        QCOMPARE(chn.CalledNumbers[0], 2001);
        QCOMPARE(chn.QueueLabel, QStringLiteral("排队 2"));

        const auto runOut = [&p] {
            for (int tick = 0; tick < TPlayChannels::OffHookTicks + TPlayChannels::DialingTicks; ++tick)
                p.Core->Timer1Timer();
        };
        runOut();
        QCOMPARE(chn.State, uint8_t(ChnOffHook));
        QCOMPARE(chn.PlayText, QStringLiteral("瓦斯2"));
        QVERIFY(chn.TextMode);
        QCOMPARE(chn.CallTypeLabel, QStringLiteral("组号=5播放文本"));
        QCOMPARE(chn.PlayCountLabel, QStringLiteral("2"));
        QCOMPARE(chn.CalledCount, 1);
        QCOMPARE(chn.CalledNumbers[0], 2002);
        QCOMPARE(chn.NumberMemo.Lines().last(), QStringLiteral("绞车 2002"));
        QCOMPARE(chn.QueueLabel, QStringLiteral("排队 1"));
        QCOMPARE(p.Player.Calls.mid(p.Player.Calls.size() - 2), (QStringList{"open w2.wav", "play"}));
        runOut();
        QCOMPARE(chn.PlayText, QStringLiteral("注意5"));
        QCOMPARE(chn.CallTypeLabel, QStringLiteral("指定号码播放预案"));
        QCOMPARE(chn.CalledCount, 1);
        QCOMPARE(chn.CalledNumbers[0], 2003);
        QCOMPARE(chn.QueueLabel, QString());
    }

    // A voice notification on a switched-off channel 0 is answered, not kept for later, and said.
    void disabledChannelTakesNoNotification()
    {
        TPlatform p({QStringLiteral("ifUse0=否")});
        p.Phone(2001, QStringLiteral("a"), {}, {"4"});
        TPlayChn &chn = p.Channel0();
        const int memo = int(p.Core->LogMemo().Lines().size());
        QCOMPARE(p.Request(2, VoicePayload(0, 4, 2, "x", 1), 0, 77), QList<QByteArray>{Hex("01") + Le32(2001) + char(0)});
        QCOMPARE(chn.State, uint8_t(ChnBlocked));
        QCOMPARE(chn.CalledCount, 0);
        QCOMPARE(chn.Queue.size(), size_t(0));
        QCOMPARE(p.Core->LogMemo().Lines().size(), memo + 1);
        QVERIFY2(p.Core->LogMemo().Lines().last().contains(QStringLiteral("通道闭塞")), qPrintable(p.Core->LogMemo().Lines().last()));
        QVERIFY(p.Core->Channels().ApplySettings(QStringLiteral("1"), QString(), QStringLiteral("是"), p.Core->Settings()).isEmpty());
        for (int tick = 0; tick < 200; ++tick)
            p.Core->Timer1Timer();
        QCOMPARE(chn.State, uint8_t(ChnIdle));
        QCOMPARE(p.Player.Calls, QStringList{});
    }

    void voiceNotifyRefused_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("traced");
        QTest::newRow("6 bytes") << Hex("000100000002") << "播放时数据长度小于10错";
        QTest::newRow("play type 2") << VoicePayload(2, 1, 2, "x", 1) << "播放类型错:2";
    }
    void voiceNotifyRefused()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, traced);
        TPlatform p;
        QCOMPARE(p.Request(2, payload), QList<QByteArray>{});
        QCOMPARE(p.Traced, QStringList{traced});
        QCOMPARE(p.Channel0().NumberMemo.Lines(), QStringList{"播放的号码显示"});
    }

    // A request without the bytes it needs is not carried out: one line names it, no reply,
    // channel 0 goes on with what it was doing.
    void shortRequestsAreRefused_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("named");
        QTest::newRow("voice, 6 bytes") << 2 << Hex("000100000002") << "语音通知";
        QTest::newRow("call, no bytes") << 6 << QByteArray() << "电话呼叫";
        QTest::newRow("call, 4 bytes") << 6 << Le32(2001) << "电话呼叫";
        QTest::newRow("call, 7 bytes") << 6 << (Le32(2001) + Hex("D20700")) << "电话呼叫";
    }
    void shortRequestsAreRefused()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, payload);
        QFETCH(QString, named);
        TPlatform p;
        TPlayChn &chn = p.Channel0();
        chn.State = ChnOffHook; // a notification in progress
        chn.Countdown = 5;
        const QStringList memo = p.Core->LogMemo().Lines();
        QCOMPARE(p.Request(uint8_t(type), payload, 0, 4321), QList<QByteArray>{});
        QCOMPARE(chn.State, uint8_t(ChnOffHook));
        QCOMPARE(chn.Countdown, 5);
        QCOMPARE(chn.CalledCount, 0);
        QCOMPARE(chn.NumberMemo.Lines(), QStringList{"播放的号码显示"});
        const QStringList lines = p.Core->LogMemo().Lines();
        QCOMPARE(lines.size(), memo.size() + 1);
        QVERIFY2(lines.last().contains(named) && lines.last().contains(QStringLiteral("4321"))
                     && lines.last().contains(QString::number(payload.size())),
                 qPrintable(lines.last()));
    }

    // The platform's text is shown as it came, never read as a format.
    void contentIsShownAsItCame_data()
    {
        QTest::addColumn<int>("playType");
        QTest::addColumn<QString>("summary");
        QTest::newRow("group") << 0 << "应答语音通知接口: 组号=4 电话个数=1 播报内容=%1%2 撤离 100% %3 播报次数=2";
        QTest::newRow("number") << 1 << "应答语音通知接口: 指定号码=4 播报内容=%1%2 撤离 100% %3 播报次数=2";
    }
    void contentIsShownAsItCame()
    {
        QFETCH(int, playType);
        QFETCH(QString, summary);
        TPlatform p;
        p.Phone(2001, QStringLiteral("a"), {}, {"4"});
        QCOMPARE(p.Request(2, VoicePayload(uint8_t(playType), 4, 2, QStringLiteral("%1%2 撤离 100% %3").toUtf8(), 2)).size(), 1);
        QVERIFY2(p.Lines().contains(summary), qPrintable(p.Lines().join(QLatin1Char('\n'))));
        QCOMPARE(p.Channel0().NumberMemo.Lines().value(1), summary);
        QCOMPARE(p.Channel0().PlayText, QStringLiteral("%1%2 撤离 100% %3"));
    }

    void phoneCall_data()
    {
        QTest::addColumn<int>("called");
        QTest::addColumn<int>("dialled");
        QTest::newRow("2005") << 2005 << 2005;
        QTest::newRow("70000 keeps its low 16 bits") << 70000 << 4464;
    }
    void phoneCall()
    {
        QFETCH(int, called);
        QFETCH(int, dialled);
        TPlatform p;
        p.Channel0().State = ChnBlocked; // a call always starts the channel
        QCOMPARE(p.Request(6, Le32(2001) + Le32(called)), QList<QByteArray>{Hex("00")});
        QCOMPARE(uint8_t(p.LastReply[9]), uint8_t(6));
        TPlayChn &chn = p.Channel0();
        QCOMPARE(chn.CallTypeLabel, QStringLiteral("单呼号码=%1播放文本").arg(dialled));
        QCOMPARE(chn.PlayText, QStringLiteral("1"));
        QCOMPARE(chn.CalledNumbers[0], dialled);
        QCOMPARE(chn.State, uint8_t(ChnOffHook));
        QVERIFY(p.Lines().contains(QStringLiteral("[消息ID:7][消息方向:0 安全监控系统发起][消息类型:6 电话呼叫接口] 电话呼叫 主叫：2001 被叫:%1").arg(dialled)));
    }

    // A call starts at once; the notification it interrupts before its keys were sent is carried
    // out after the call instead of having its numbers dialled inside the call's key run.
    void callPutsAnUndialledNotificationBack()
    {
        TPlatform p;
        p.Phone(2001, QStringLiteral("井口"), {}, {"4"});
        TPlayChn &chn = p.Channel0();
        QCOMPARE(p.Request(2, VoicePayload(0, 4, 0, QStringLiteral("撤离3").toUtf8(), 1), 0, 1).size(), 1);
        p.Core->Timer1Timer();
        QCOMPARE(p.Request(6, Le32(2009) + Le32(2005), 0, 2), QList<QByteArray>{Hex("00")});
        QCOMPARE(chn.CalledCount, 1);
        QCOMPARE(chn.CalledNumbers[0], 2005);
        QCOMPARE(chn.Countdown, TPlayChannels::OffHookTicks);
        QCOMPARE(chn.QueueLabel, QStringLiteral("排队 1"));
        for (int tick = 0; tick < TPlayChannels::OffHookTicks + TPlayChannels::DialingTicks; ++tick)
            p.Core->Timer1Timer();
        QCOMPARE(chn.PlayText, QStringLiteral("撤离3"));
        QCOMPARE(chn.CalledCount, 1);
        QCOMPARE(chn.CalledNumbers[0], 2001);
        QCOMPARE(chn.Countdown, TPlayChannels::OffHookTicks);
    }

    // The platform's call is carried out on a disabled channel 0, which is disabled again after.
    void aCallOnADisabledChannel()
    {
        TPlatform p({QStringLiteral("ifUse0=否")});
        TPlayChn &chn = p.Channel0();
        QCOMPARE(chn.State, uint8_t(ChnBlocked));
        QCOMPARE(p.Request(6, Le32(2001) + Le32(2005)).size(), 1);
        QCOMPARE(chn.State, uint8_t(ChnOffHook));
        for (int tick = 0; tick < TPlayChannels::OffHookTicks + TPlayChannels::DialingTicks; ++tick)
            p.Core->Timer1Timer();
        QCOMPARE(chn.State, uint8_t(ChnBlocked));
        QCOMPARE(chn.StatusCaption, QStringLiteral("闭塞"));

        p.Phone(2001, QStringLiteral("a"), {}, {"4"});
        const int opened = int(p.Player.Calls.size());
        QCOMPARE(p.Request(2, VoicePayload(0, 4, 2, "x", 1)).size(), 1);
        QCOMPARE(chn.State, uint8_t(ChnBlocked));
        QCOMPARE(int(p.Player.Calls.size()), opened);
    }

    void notServed_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("direction 1") << 1 << 0 << "消息方向 ERROR";
        QTest::newRow("direction 2") << 2 << 0 << "消息方向 ERROR";
        QTest::newRow("type 3") << 0 << 3 << "[消息ID:7][消息方向:0 安全监控系统发起][消息类型:3 短信通知接口]";
        QTest::newRow("type 9") << 3 << 9 << "[消息ID:7][消息方向:3 安全监控系统回复][消息类型:9";
    }
    void notServed()
    {
        QFETCH(int, direction);
        QFETCH(int, type);
        QFETCH(QString, lastLine);
        TPlatform p;
        QCOMPARE(p.Request(uint8_t(type), QByteArray(), uint8_t(direction)), QList<QByteArray>{});
        QCOMPARE(p.Lines().last(), lastLine);
    }

    void anyRequestIsSafe()
    {
        TPlatform p;
        p.Core->CommMsg().SetShown(false);
        for (int i = 0; i < 60; ++i)
            p.Phone(2000 + i, QString(40, QChar(u'井')), QString::number(i), {"1", "2"});
        p.Group(1, QStringLiteral("一组"));
        QRandomGenerator random(7);
        int replies = 0;
        for (int i = 0; i < 300; ++i) {
            QByteArray payload(int(random.bounded(1456)), Qt::Uninitialized);
            for (char &c : payload)
                c = char(random.bounded(256));
            if (i % 4 == 0 && payload.size() >= 7)
                payload[0] = char(i % 8 == 0 ? 0 : 1); // reach both play types, with any target
            p.Core->Dispatcher().ExecOnCommCommand(uint16_t(i), uint8_t(random.bounded(5)), uint8_t(random.bounded(10)), payload);
            QTest::qWait(0);
            while (p.Peer.hasPendingDatagrams()) {
                QVERIFY(p.Peer.receiveDatagram(70000).data().size() <= 1461);
                ++replies;
            }
        }
        QVERIFY(replies > 0);
        QCOMPARE(p.Core->Directory().ListTelNumbers(), 60);
        QCOMPARE(p.Core->Directory().ListGroups(), 1);
    }
};

QTEST_GUILESS_MAIN(TstDispatcher)
#include "tst_dispatcher.moc"
