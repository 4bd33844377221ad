#include "channels/play_channels.h"
#include "host_link/host_frame.h"
#include "host_link/host_link.h"
#include "keyboard/key_table.h"
#include "common/configuration.h"
#include "common/settings_store.h"
#include "common/traffic_log.h"
#include "support/test_support.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using TestSupport::Hex;

namespace {

// The channels with a real host link and key table, and a recording player.
struct TChannels
{
    TConfiguration Config;
    TTrafficLog Traffic;
    THostLink Host{Config, Traffic};
    TKeyTable Keys;
    TRecordingPlayer Player;
    TPlayChannels Channels{Config, Host, Keys, Player};

    TChannels()
    {
        Config.ProgramDir = Config.SoundDir = QStringLiteral("/opt/varnex/");
        Channels.InitDisplays();
        for (TPlayChn &chn : Channels.PlayChn) { // every channel enabled
            chn.IfUse = true;
            chn.State = ChnIdle;
        }
    }

    void Start(int channel, const QString &text, const QList<int32_t> &numbers = {})
    {
        TPlayChn &chn = Channels.Channel(channel);
        chn.PlayText = text;
        for (int32_t n : numbers)
            chn.CalledNumbers[size_t(chn.CalledCount++)] = n;
        Channels.PlayManager(PlayStart, channel);
    }
    void Tick(int channel, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            Channels.PlayManager(PlayTick, channel);
    }
    QByteArray Queued() const
    {
        QByteArray bytes;
        for (int i = 0; i < Host.HostSendRing.Count(); ++i)
            bytes += char(Host.HostSendRing.At(Host.HostSendRing.Read + i));
        return bytes;
    }
};

// A notification as the dispatcher makes it, with texts that tell it apart.
TPlayRequest Request(const QString &text, const QList<int32_t> &numbers)
{
    TPlayRequest request;
    request.PlayText = text;
    request.Numbers = numbers;
    request.CallTypeLabel = text.chopped(1) + QStringLiteral("类型");
    request.PlayCountLabel = text.right(1);
    request.NumberLines = {text.chopped(1) + QStringLiteral("行")};
    return request;
}

// Key command frames for module, column, row triples.
QByteArray Keys(const QList<std::array<int, 3>> &keys)
{
    TByteRing ring;
    for (const auto &[module, column, row] : keys) {
        const auto values = HostFrame::KeyCommandValues(0, module, column, row);
        HostFrame::SendDataNet(ring, values.data(), HostFrame::KeyCommand, int(values.size()) - 1);
    }
    QByteArray bytes;
    for (int i = 0; i < ring.Count(); ++i)
        bytes += char(ring.At(ring.Read + i));
    return bytes;
}

} // namespace

class TstPlayChannels : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void notificationRunsItsCourse()
    {
        TChannels c;
        TPlayChn &chn = c.Channels.Channel(0);
        c.Start(0, QStringLiteral("紧急撤离3"));
        QCOMPARE(chn.TextMemo.Lines(), QStringList{"紧急撤离3"});
        QCOMPARE(c.Player.Calls, (QStringList{"open w3.wav", "play"}));
        QCOMPARE(c.Channels.PlayerTag, 0);
        QVERIFY(c.Channels.LoopPlay);
        QCOMPARE(chn.StatusCaption, QStringLiteral("摘机  8"));
        QCOMPARE(chn.StatusColor, 0xFF0000u);

        for (int left = 7; left >= 1; --left) {
            c.Tick(0);
            QCOMPARE(chn.StatusCaption, QStringLiteral("摘机  %1").arg(left));
        }
        c.Tick(0); // the eighth tick: dialling starts, the panel still shows 0
        QCOMPARE(chn.State, uint8_t(ChnDialing));
        QCOMPARE(chn.StatusCaption, QStringLiteral("摘机  0"));
        QCOMPARE(c.Queued(), QByteArray()); // no numbers, no keys
        c.Tick(0);
        QCOMPARE(chn.StatusCaption, QStringLiteral("拨号  179"));
        c.Tick(0, 178);
        QCOMPARE(chn.StatusCaption, QStringLiteral("拨号  1"));
        QCOMPARE(c.Player.Calls.size(), 2);
        c.Tick(0);
        QCOMPARE(chn.State, uint8_t(ChnIdle));
        QCOMPARE(chn.StatusCaption, QStringLiteral("空闲"));
        QCOMPARE(chn.StatusColor, 0x008000u);
        QCOMPARE(c.Player.Calls.last(), QStringLiteral("stop"));
        QCOMPARE(c.Channels.PlayerTag, 255);
        QVERIFY(!c.Channels.LoopPlay);
    }

    void dialSequence()
    {
        TChannels c;
        c.Config.StartKeyboard = 3;
        c.Config.CurrentKeyboard = 2;
        c.Keys.KeyTable[2 * 1088 + 1 * 64 + 2 * 8 + 3] = 8001; // module 1, column 2, row 3
        c.Keys.KeyTable[3 * 1088 + 5] = 8002;                  // only on a keyboard not searched
        c.Host.CommToPabxUDPRead(QByteArray("alive"), c.Config.IpAddress); // the switch is there
        c.Start(0, QStringLiteral("x"), {8001, 8002});
        c.Tick(0, 7);
        QCOMPARE(c.Queued(), QByteArray());
        c.Tick(0);
        QCOMPARE(c.Queued().toHex(' '),
                 Hex("A5A5A5000C03 03FE000303FF  A5A5A5000C03 03FE012324FF  A5A5A5000C03 03FE000202FF").toHex(' '));
        QCOMPARE(c.Channels.Channel(0).CalledCount, 0);
        QCOMPARE(c.Host.RecCommandShow(), QStringLiteral("发送:3     组0 行2 列0"));
    }

    void soundFile_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("file");
        QTest::newRow("3") << "通知3" << "w3.wav";
        QTest::newRow("1") << "1" << "w1.wav";
        QTest::newRow("7") << "abc7" << "w7.wav";
        QTest::newRow("8") << "通知8" << "w0.wav";
        QTest::newRow("0") << "通知0" << "w0.wav";
        QTest::newRow("letter") << "a" << "w0.wav";
        QTest::newRow("Chinese") << "撤离" << "w0.wav";
        QTest::newRow("empty") << "" << "w0.wav";
        QTest::newRow("fullwidth 3") << "３" << "w0.wav";
    }
    void soundFile()
    {
        QFETCH(QString, text);
        QFETCH(QString, file);
        QCOMPARE(TPlayChannels::SoundFileFor(text), file);
    }

    void twoChannelsShareThePlayer()
    {
        TChannels c;
        c.Start(1, QStringLiteral("a1"));
        c.Tick(1, 3);
        c.Start(2, QStringLiteral("b2"));
        QCOMPARE(c.Channels.PlayerTag, 2);
        QCOMPARE(c.Player.Calls, (QStringList{"open w1.wav", "play", "open w2.wav", "play"}));
        c.Tick(1, 185); // channel 1 goes idle; channel 2's sound goes on
        QCOMPARE(c.Channels.Channel(1).State, uint8_t(ChnIdle));
        QCOMPARE(c.Player.Calls.size(), 4);
        QVERIFY(c.Channels.LoopPlay);
        c.Tick(2, 188);
        QCOMPARE(c.Player.Calls.last(), QStringLiteral("stop"));
        QCOMPARE(c.Channels.PlayerTag, 255);
    }

    void loopingUntilStopped()
    {
        TChannels c;
        c.Start(0, QStringLiteral("x"));
        Q_EMIT c.Player.Finished();
        QCOMPARE(c.Player.Calls.mid(2), (QStringList{"rewind", "play"}));
        c.Tick(0, 188);
        const qsizetype calls = c.Player.Calls.size();
        Q_EMIT c.Player.Finished();
        QCOMPARE(c.Player.Calls.size(), calls);
    }

    void missingSoundStillRunsTheChannel()
    {
        TChannels c;
        c.Player.OpenSucceeds = false;
        c.Start(4, QStringLiteral("x"));
        QCOMPARE(c.Player.Calls, QStringList{"open w0.wav"});
        QCOMPARE(c.Channels.PlayerTag, 0); // not taken over
        QCOMPARE(c.Channels.Channel(4).State, uint8_t(ChnOffHook));
    }

    void busyAndBlockedChannels()
    {
        TChannels c;
        TPlayChn &chn = c.Channels.Channel(0);
        c.Start(0, QStringLiteral("x"), {8001});
        c.Start(0, QStringLiteral("y"), {8002}); // off-hook: ignored, the number stays queued
        QCOMPARE(chn.Countdown, 8);
        QCOMPARE(chn.CalledCount, 2);
        QCOMPARE(c.Player.Calls.size(), 2);
        c.Tick(0, 9);
        c.Channels.PlayManager(PlayStart, 0); // dialling: only redrawn
        QCOMPARE(chn.State, uint8_t(ChnDialing));
        QCOMPARE(chn.Countdown, 179);

        TPlayChn &blocked = c.Channels.Channel(5);
        blocked.State = ChnBlocked;
        c.Channels.RefreshChnDsp(5);
        c.Start(5, QStringLiteral("x"));
        c.Tick(5, 20);
        QCOMPARE(blocked.State, uint8_t(ChnBlocked));
        QCOMPARE(blocked.StatusCaption, QStringLiteral("闭塞"));
        QCOMPARE(blocked.StatusColor, 0x808080u);

        TPlayChn &odd = c.Channels.Channel(6);
        odd.State = 9;
        c.Channels.RefreshChnDsp(6);
        QCOMPARE(odd.StatusCaption, QStringLiteral("未知状态:9"));
        QCOMPARE(odd.StatusColor, 0xFFFFFFu);
        c.Channels.PlayManager(PlayStart, 8); // out of range: nothing
        c.Channels.PlayManager(PlayTick, -1);
        c.Channels.RefreshChnDsp(99);
    }

    void settingsAtStart()
    {
        QTemporaryDir dir;
        TSettingsStore store(TestSupport::WriteSettings(dir, {"ifUse2=是", "CallerNumber2=2003", "ifUse3=否", "ifUse4=yes"}));
        store.Open();
        TChannels c;
        c.Channels.ReadSettings(store);
        for (int i = 0; i < 8; ++i) {
            const TPlayChn &chn = c.Channels.Channel(i);
            QCOMPARE(chn.State, uint8_t(i == 2 ? ChnIdle : ChnBlocked));
            QCOMPARE(chn.StatusCaption, i == 2 ? QStringLiteral("空闲") : QStringLiteral("闭塞"));
            QCOMPARE(chn.CallerLabel, i == 2 ? QStringLiteral("2003") : QString());
        }
    }

    void applySettings_data()
    {
        QTest::addColumn<int>("stateBefore");
        QTest::addColumn<QString>("channelText");
        QTest::addColumn<QString>("ifUse");
        QTest::addColumn<int>("stateAfter");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<bool>("error");
        QTest::newRow("enable a blocked channel") << int(ChnBlocked) << "1" << "是" << int(ChnIdle)
                                                  << QStringList{"ifUse0=是", "CallerNumber0=2001"} << false;
        QTest::newRow("enable a dialling channel") << int(ChnDialing) << "1" << "是" << int(ChnDialing)
                                                   << QStringList{"ifUse0=是", "CallerNumber0=2001"} << false;
        QTest::newRow("disable an off-hook channel") << int(ChnOffHook) << "1" << "否" << int(ChnBlocked)
                                                     << QStringList{"ifUse0=否", "CallerNumber0=2001"} << false;
        QTest::newRow("any other text disables") << int(ChnIdle) << " 1 " << "yes" << int(ChnBlocked)
                                                 << QStringList{"ifUse0=否", "CallerNumber0=2001"} << false;
        QTest::newRow("channel 9: nothing, said") << int(ChnIdle) << "9" << "是" << int(ChnIdle) << QStringList{} << true;
        QTest::newRow("channel 0: nothing, said") << int(ChnIdle) << "0" << "否" << int(ChnIdle) << QStringList{} << true;
        QTest::newRow("not a number") << int(ChnIdle) << "abc" << "否" << int(ChnIdle) << QStringList{} << true;
    }
    void applySettings()
    {
        QFETCH(int, stateBefore);
        QFETCH(QString, channelText);
        QFETCH(QString, ifUse);
        QFETCH(int, stateAfter);
        QFETCH(QStringList, stored);
        QFETCH(bool, error);
        QTemporaryDir dir;
        const QString path = TestSupport::WriteSettings(dir, {});
        TSettingsStore store(path);
        store.Open();
        TChannels c;
        c.Channels.Channel(0).State = uint8_t(stateBefore);
        const QString message = c.Channels.ApplySettings(channelText, QStringLiteral("2001"), ifUse, store);
        QCOMPARE(!message.isEmpty(), error);
        QCOMPARE(int(c.Channels.Channel(0).State), stateAfter);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts), stored);
        if (!stored.isEmpty()) {
            QCOMPARE(c.Channels.Channel(0).CallerLabel, QStringLiteral("2001"));
            QCOMPARE(c.Channels.Channel(0).StatusCaption, TPlayChannels::StateCaption(stateAfter, c.Channels.Channel(0).Countdown));
        }
    }

    // Switching a channel off ends what it does: no keys later, its sound stopped, and what
    // had not been dialled yet is handed back as dropped.
    void disablingEndsTheChannel_data()
    {
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("dropped");
        QTest::newRow("off-hook, keys not sent") << 3 << 2;
        QTest::newRow("dialling, keys sent") << 20 << 1;
    }
    void disablingEndsTheChannel()
    {
        QFETCH(int, ticks);
        QFETCH(int, dropped);
        QTemporaryDir dir;
        TSettingsStore store(TestSupport::WriteSettings(dir, {}));
        store.Open();
        TChannels c;
        c.Keys.KeyTable[3 * 64 + 4] = 8001;
        c.Host.CommToPabxUDPRead(QByteArray("alive"), c.Config.IpAddress);
        QCOMPARE(c.Channels.Offer(0, Request(QStringLiteral("a"), {8001})), TPlayChannels::TOffer::Started);
        c.Tick(0, ticks);
        QCOMPARE(c.Channels.Offer(0, Request(QStringLiteral("b"), {8001})), TPlayChannels::TOffer::Queued);
        const QByteArray keysBefore = c.Queued();
        QSignalSpy droppedSpy(&c.Channels, &TPlayChannels::RequestsDropped);
        c.Channels.ApplySettings(QStringLiteral("1"), QString(), QStringLiteral("否"), store);
        QCOMPARE(c.Player.Calls, (QStringList{"open w0.wav", "play", "stop"}));
        QVERIFY(!c.Channels.LoopPlay);
        QCOMPARE(droppedSpy.size(), 1);
        QCOMPARE(droppedSpy[0][1].value<QList<TPlayRequest>>().size(), dropped);
        QCOMPARE(c.Channels.Channel(0).QueueLabel, QString());
        c.Tick(0, 400);
        QCOMPARE(c.Queued(), keysBefore);
        QCOMPARE(c.Channels.Offer(0, Request(QStringLiteral("c"), {8001})), TPlayChannels::TOffer::Blocked);
        QCOMPARE(c.Player.Calls.size(), 3);
    }

    // Notifications that arrive while the channel is busy wait and are carried out in order,
    // each with its own text, numbers and box; the running one's box is not touched.
    void waitingNotificationsRunInOrder()
    {
        TChannels c;
        c.Config.StartKeyboard = c.Config.CurrentKeyboard = 0;
        c.Keys.KeyTable[1 * 64 + 1 * 8 + 1] = 8001;
        c.Keys.KeyTable[2 * 64 + 2 * 8 + 2] = 8002;
        c.Keys.KeyTable[3 * 64 + 3 * 8 + 3] = 8003;
        c.Host.CommToPabxUDPRead(QByteArray("alive"), c.Config.IpAddress);
        TPlayChn &chn = c.Channels.Channel(0);
        QSignalSpy started(&c.Channels, &TPlayChannels::RequestStarted);
        QCOMPARE(c.Channels.Offer(0, Request(QStringLiteral("一号1"), {8001})), TPlayChannels::TOffer::Started);
        const QString startTime = chn.StartTimeLabel;
        QCOMPARE(c.Channels.Offer(0, Request(QStringLiteral("二号2"), {8002})), TPlayChannels::TOffer::Queued);
        c.Tick(0, 8);
        QCOMPARE(c.Channels.Offer(0, Request(QStringLiteral("三号3"), {8003, 8001})), TPlayChannels::TOffer::Queued);
        QCOMPARE(chn.QueueLabel, QStringLiteral("排队 2"));
        QCOMPARE(chn.CallTypeLabel, QStringLiteral("一号类型"));
        QCOMPARE(chn.PlayCountLabel, QStringLiteral("1"));
        QCOMPARE(chn.StartTimeLabel, startTime);
        QCOMPARE(chn.TextMemo.Lines(), QStringList{"一号1"});
        QCOMPARE(chn.NumberMemo.Lines(), (QStringList{"播放的号码显示", "一号行"}));
        QCOMPARE(c.Queued(), Keys({{0, 0, 3}, {1, 1, 1}, {0, 0, 2}}));
        QCOMPARE(started.size(), 1);

        c.Host.HostSendRing.Read = c.Host.HostSendRing.Write; // what the switch got so far
        c.Tick(0, 180); // the first ends, the second starts at once
        QCOMPARE(started.size(), 2);
        QCOMPARE(chn.State, uint8_t(ChnOffHook));
        QCOMPARE(chn.QueueLabel, QStringLiteral("排队 1"));
        QCOMPARE(chn.TextMemo.Lines(), QStringList{"二号2"});
        QCOMPARE(chn.CallTypeLabel, QStringLiteral("二号类型"));
        QCOMPARE(chn.PlayCountLabel, QStringLiteral("2"));
        QCOMPARE(chn.NumberMemo.Lines().last(), QStringLiteral("二号行"));
        QCOMPARE(c.Player.Calls.mid(2), (QStringList{"stop", "open w2.wav", "play"}));
        c.Tick(0, 8);
        QCOMPARE(c.Queued(), Keys({{0, 0, 3}, {2, 2, 2}, {0, 0, 2}}));

        c.Host.HostSendRing.Read = c.Host.HostSendRing.Write;
        c.Tick(0, 188);
        QCOMPARE(chn.QueueLabel, QString());
        QCOMPARE(chn.TextMemo.Lines(), QStringList{"三号3"});
        QCOMPARE(c.Queued(), Keys({{0, 0, 3}, {3, 3, 3}, {1, 1, 1}, {0, 0, 2}}));
        c.Tick(0, 180);
        QCOMPARE(chn.State, uint8_t(ChnIdle));
        QCOMPARE(started.size(), 3);
    }

    void queueIsBounded()
    {
        TChannels c;
        QCOMPARE(c.Channels.Offer(0, Request(QStringLiteral("x"), {1})), TPlayChannels::TOffer::Started);
        for (int i = 0; i < TPlayChannels::MaxQueued; ++i)
            QCOMPARE(c.Channels.Offer(0, Request(QStringLiteral("x"), {1})), TPlayChannels::TOffer::Queued);
        QCOMPARE(c.Channels.Offer(0, Request(QStringLiteral("x"), {1})), TPlayChannels::TOffer::QueueFull);
        QCOMPARE(c.Channels.Channel(0).QueueLabel, QStringLiteral("排队 16"));
    }

    // A call starts at once. The notification it displaces before its keys were sent is carried
    // out after the call, not dialled inside the call's key run.
    void callTakesTheChannel_data()
    {
        QTest::addColumn<int>("ticks");
        QTest::addColumn<bool>("requeued");
        QTest::newRow("off-hook: keys not sent") << 5 << true;
        QTest::newRow("dialling: keys sent") << 30 << false;
    }
    void callTakesTheChannel()
    {
        QFETCH(int, ticks);
        QFETCH(bool, requeued);
        TChannels c;
        c.Config.StartKeyboard = c.Config.CurrentKeyboard = 0;
        c.Keys.KeyTable[1 * 64 + 1 * 8 + 1] = 8001;
        c.Keys.KeyTable[2 * 64 + 2 * 8 + 2] = 2005;
        c.Host.CommToPabxUDPRead(QByteArray("alive"), c.Config.IpAddress);
        TPlayChn &chn = c.Channels.Channel(0);
        c.Channels.Offer(0, Request(QStringLiteral("通知"), {8001}));
        c.Tick(0, ticks);
        c.Host.HostSendRing.Read = c.Host.HostSendRing.Write;
        TPlayRequest call = Request(QStringLiteral("1"), {2005});
        call.IsCall = true;
        c.Channels.Call(0, call);
        QCOMPARE(chn.State, uint8_t(ChnOffHook));
        QCOMPARE(chn.Countdown, 8);
        QCOMPARE(chn.QueueLabel, requeued ? QStringLiteral("排队 1") : QString());
        c.Tick(0, 8);
        QCOMPARE(c.Queued(), Keys({{0, 0, 3}, {2, 2, 2}, {0, 0, 2}}));
        c.Host.HostSendRing.Read = c.Host.HostSendRing.Write;
        c.Tick(0, 188);
        QCOMPARE(c.Queued(), requeued ? Keys({{0, 0, 3}, {1, 1, 1}, {0, 0, 2}}) : QByteArray());
        QCOMPARE(chn.TextMemo.Lines(), QStringList{requeued ? "通知" : "1"});
    }
};

QTEST_GUILESS_MAIN(TstPlayChannels)
#include "tst_play_channels.moc"
