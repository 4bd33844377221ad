#include "control/control_client.h"
#include "control/control_server.h"
#include "app/varnex_core.h"
#include "platform_link/ldtx_frame.h"
#include "status/alarm_path.h"
#include "status/status_snapshot.h"
#include "web/metrics_text.h"
#include "support/pg_server.h"
#include "support/test_support.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <algorithm>
#include <atomic>
#include <future>

namespace {

// A core with channel 0 enabled, one extension in group 5, a platform socket of the test, and
// its status published and served on a control socket in the test's folder.
struct TServedProgram
{
    QTemporaryDir Dir;
    QUdpSocket Platform;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;
    std::unique_ptr<TControlServer> Control;
    QString Path;

    // extension: whether 2001 is put in the directory; keys: key.dat's bytes (null: none).
    explicit TServedProgram(const QStringList &lines = {}, bool extension = true,
                            const QByteArray &keys = TestSupport::KeyFile({{3 * TKeyTable::KeysPerKeyboard, 2001}}))
    {
        Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        if (!keys.isNull()) {
            QFile file(Dir.filePath(QStringLiteral("key.dat")));
            if (file.open(QIODevice::WriteOnly))
                file.write(keys);
        }
        QStringList settings = lines + QStringList{QStringLiteral("CommIpPort=%1").arg(Platform.localPort())};
        if (lines.filter(QStringLiteral("ifUse0=")).isEmpty())
            settings << QStringLiteral("ifUse0=是");
        Core = TestSupport::StartCore(Dir, settings, &Player);
        if (extension)
            Core->Directory().AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"5"}, QStringLiteral("0"), {});
        TestSupport::CopyCaughtUp(Core->Directory());
        Core->Status().Start();
        Control = std::make_unique<TControlServer>(Core->Status(), Core->PairRole());
        Path = Dir.filePath(QStringLiteral("varnex.ctl"));
        QString why;
        Listening = Control->Listen(Path, &why) == TControlServer::TListen::Listening;
        ListenProblem = why;
    }
    // A request asked from another thread while this one keeps its event loop running, as a
    // keepalived script asks a running program.
    TControlClient::TAnswer Ask(const QJsonObject &request, int delayMs = 0)
    {
        auto answer = std::async(std::launch::async, [this, request, delayMs] {
            QThread::msleep(delayMs);
            return TControlClient::Ask(Path, request);
        });
        (void)QTest::qWaitFor([&] { return answer.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }, 10000);
        return answer.get();
    }
    bool Listening = false;
    QString ListenProblem;
};

QJsonValue At(const QJsonObject &object, const QString &path)
{
    QJsonValue value = object;
    for (const QString &step : path.split(QLatin1Char('/'))) {
        bool index = false;
        const int i = step.toInt(&index);
        value = index ? value.toArray().at(i) : value.toObject().value(step);
    }
    return value;
}

} // namespace

class TstStatus : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // What a running program says of itself over its control socket, field by field, after a
    // group-list query and a voice notification have come in.
    void statusFields_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected"); // as compact JSON
        QTest::newRow("role") << "role" << R"("single")";
        QTest::newRow("role text") << "role_text" << R"("单机")";
        QTest::newRow("platform bound") << "platform_link/bound" << "true";
        QTest::newRow("platform up") << "platform_link/up" << "true";
        QTest::newRow("platform received") << "platform_link/received" << "2";
        QTest::newRow("platform sent") << "platform_link/sent" << "2";
        QTest::newRow("switch bound") << "switch_link/bound" << "true";
        QTest::newRow("switch up") << "switch_link/up" << "false";
        QTest::newRow("group lists") << "requests/group_list" << "1";
        QTest::newRow("voice notifications") << "requests/voice_notify" << "1";
        QTest::newRow("calls") << "requests/phone_call" << "0";
        QTest::newRow("channel 1 state") << "channels/0/state" << R"("offhook")";
        QTest::newRow("channel 1 text") << "channels/0/text" << R"("撤离")";
        QTest::newRow("channel 1 numbers") << "channels/0/numbers" << "[2001]";
        QTest::newRow("channel 2 state") << "channels/1/state" << R"("blocked")";
        QTest::newRow("channels") << "channels/8" << "null";
        QTest::newRow("extensions") << "directory/extensions" << "1";
        QTest::newRow("store reachable") << "store/reachable" << "true";
        QTest::newRow("held sends") << "held_sends" << "0";
        QTest::newRow("dropped requests") << "dropped_requests" << "0";
    }
    void statusFields()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        TServedProgram p;
        QVERIFY2(p.Listening, qPrintable(p.ListenProblem));
        const int port = p.Core->Config().CommRecIpPort;
        QCOMPARE(TestSupport::AskCount(p.Platform, port, LdtxFrame::GroupListQuery), 0);
        const QByteArray voice = QByteArray(1, char(0)) + LdtxFrame::Le32(5) + char(2) + QByteArray("撤离") + char(1);
        QCOMPARE(TestSupport::Ask(p.Platform, port, LdtxFrame::VoiceNotify, voice, 3), int(LdtxFrame::CallNotifyResult));
        p.Core->Status().Refresh();
        const TControlClient::TAnswer answer = p.Ask({{"command", "status"}});
        QVERIFY2(answer.Reached, qPrintable(answer.Why));
        QVERIFY(answer.Reply.value(QStringLiteral("ok")).toBool());
        const QJsonValue value = At(answer.Reply.value(QStringLiteral("status")).toObject(), path);
        const QString shown = QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
        QCOMPARE(shown, expected);
    }

    // `check` fails, with its reason, while the main loop is stuck past 2 s (the socket still
    // answers from its own thread), and passes once the loop runs again.
    void checkFailsWhileMainLoopIsStuck()
    {
        TServedProgram p;
        QVERIFY2(p.Listening, qPrintable(p.ListenProblem));
        QCOMPARE(p.Ask({{"command", "check"}}).Reply.value(QStringLiteral("ok")).toBool(), true);
        auto stuck = std::async(std::launch::async, [&p] {
            QThread::msleep(2400);
            return TControlClient::Ask(p.Path, {{"command", "check"}});
        });
        QMetaObject::invokeMethod(p.Core.get(), [] { QThread::msleep(3000); }, Qt::QueuedConnection);
        QTest::qWait(50);
        const TControlClient::TAnswer answer = stuck.get();
        QVERIFY2(answer.Reached, qPrintable(answer.Why));
        QCOMPARE(answer.Reply.value(QStringLiteral("ok")).toBool(), false);
        QVERIFY2(answer.Reply.value(QStringLiteral("message")).toString().startsWith(QStringLiteral("main loop stalled")),
                 qPrintable(answer.Reply.value(QStringLiteral("message")).toString()));
        QTest::qWait(300);
        QCOMPARE(p.Ask({{"command", "check"}}).Reply.value(QStringLiteral("ok")).toBool(), true);
    }

    // `watch` is served from the control thread: while the main loop is stuck its watchers still
    // get a line every second (the status as last made, so `varnex web` does not give up on a
    // live program), and a change made once the loop runs again reaches them.
    void watchGoesOnWhileMainLoopIsStuck()
    {
        TServedProgram p;
        QVERIFY2(p.Listening, qPrintable(p.ListenProblem));
        QElapsedTimer clock;
        clock.start();
        std::atomic<bool> done{false};
        auto watched = std::async(std::launch::async, [&p, &clock, &done] {
            // Arrival time (ms on clock) of each line.
            QList<std::pair<qint64, QByteArray>> lines;
            QLocalSocket socket;
            socket.connectToServer(p.Path);
            if (!socket.waitForConnected(3000))
                return lines;
            socket.write(R"({"command":"watch"})" "\n");
            while (!done && socket.state() == QLocalSocket::ConnectedState)
                if (socket.waitForReadyRead(100))
                    while (socket.canReadLine())
                        lines.append({clock.elapsed(), socket.readLine()});
            return lines;
        });
        QTest::qWait(300);
        const qint64 stuckFrom = clock.elapsed();
        QMetaObject::invokeMethod(p.Core.get(), [] { QThread::msleep(3000); }, Qt::QueuedConnection);
        QTest::qWait(50);
        const qint64 stuckUntil = clock.elapsed();
        const int port = p.Core->Config().CommRecIpPort;
        const QByteArray voice = QByteArray(1, char(0)) + LdtxFrame::Le32(5) + char(2) + QByteArray("撤离") + char(1);
        QCOMPARE(TestSupport::Ask(p.Platform, port, LdtxFrame::VoiceNotify, voice, 3), int(LdtxFrame::CallNotifyResult));
        QTest::qWait(500);
        done = true;
        const QList<std::pair<qint64, QByteArray>> lines = watched.get();
        QVERIFY(!lines.isEmpty());
        // A line must come in the stuck seconds after the first (which a refresh just before
        // them may still have started).
        const bool whileStuck = std::any_of(lines.begin(), lines.end(), [&](const auto &line) {
            return line.first > stuckFrom + 1200 && line.first < stuckUntil;
        });
        QVERIFY2(whileStuck, qPrintable(QStringLiteral("%1 lines, none between %2 and %3 ms").arg(lines.size()).arg(stuckFrom + 1200).arg(stuckUntil)));
        const bool changeSeen = std::any_of(lines.begin(), lines.end(), [&](const auto &line) {
            const QJsonObject status = QJsonDocument::fromJson(line.second).object().value(QStringLiteral("status")).toObject();
            return line.first >= stuckUntil && At(status, QStringLiteral("channels/0/state")).toString() == QLatin1String("offhook");
        });
        QVERIFY(changeSeen);
    }

    // A program whose platform port is taken should not hold the service address.
    // A shared server that goes away under a program with nothing to write is seen in the
    // status at once (the directory's copy asks it every second), and past the grace `check`
    // gives the address away.
    void storeAwayWhileIdle()
    {
        if (const QString problem = TPgServer::Shared().Problem(); !problem.isEmpty()) {
            if (qEnvironmentVariableIsSet("VARNEX_REQUIRE_POSTGRES"))
                QFAIL(qPrintable(problem));
            QSKIP(qPrintable(problem));
        }
        TServedProgram p({QStringLiteral("DatabaseUrl=") + TPgServer::Shared().NewDatabase()});
        QVERIFY(p.Core->Status().Snapshot().StoreReachable);
        const auto restart = qScopeGuard([] { TPgServer::Shared().Start(); });
        QVERIFY(TPgServer::Shared().Kill());
        QTRY_VERIFY_WITH_TIMEOUT(!p.Core->Status().Snapshot().StoreReachable, 10000);
        const TStatusSnapshot s = p.Core->Status().Snapshot();
        QVERIFY(s.Problem(0, s.StoreFailingSinceMs + TStatusSnapshot::StoreGraceMs - 1000).isEmpty());
        QVERIFY2(s.Problem(0, s.StoreFailingSinceMs + TStatusSnapshot::StoreGraceMs + 1000).startsWith(QStringLiteral("store unreachable")),
                 qPrintable(s.Problem(0, s.StoreFailingSinceMs + TStatusSnapshot::StoreGraceMs + 1000)));
    }

    void checkFailsWithoutThePlatformPort()
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0));
        TServedProgram p({QStringLiteral("CommRecIpPort=%1").arg(holder.localPort())});
        QVERIFY2(p.Listening, qPrintable(p.ListenProblem));
        const TControlClient::TAnswer answer = p.Ask({{"command", "check"}});
        QCOMPARE(answer.Reply.value(QStringLiteral("ok")).toBool(), false);
        QCOMPARE(answer.Reply.value(QStringLiteral("message")).toString(),
                 QStringLiteral("platform endpoint not bound"));
    }

    // Told over the socket, the program changes its role and says the new one; its status
    // shows it, and a program alone refuses.
    void roleRoundTrip_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("role");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("shownRole");
        QTest::newRow("pair to master") << "Role=pair" << "master" << true << "master";
        QTest::newRow("pair to fault") << "Role=pair" << "fault" << true << "fault";
        QTest::newRow("pair to nonsense") << "Role=pair" << "boss" << false << "backup";
        QTest::newRow("alone") << "Role=single" << "master" << false << "single";
    }
    void roleRoundTrip()
    {
        QFETCH(QString, setting);
        QFETCH(QString, role);
        QFETCH(bool, ok);
        QFETCH(QString, shownRole);
        TServedProgram p({setting});
        QVERIFY2(p.Listening, qPrintable(p.ListenProblem));
        const TControlClient::TAnswer answer = p.Ask({{"command", "role"}, {"role", role}, {"cause", "keepalived"}});
        QVERIFY2(answer.Reached, qPrintable(answer.Why));
        QCOMPARE(answer.Reply.value(QStringLiteral("ok")).toBool(), ok);
        QTest::qWait(10);
        const QJsonObject status = p.Ask({{"command", "status"}}).Reply.value(QStringLiteral("status")).toObject();
        QCOMPARE(status.value(QStringLiteral("role")).toString(), shownRole);
        QCOMPARE(p.Core->Gate().IsOpen(), shownRole == QLatin1String("master") || shownRole == QLatin1String("single"));
        if (ok)
            QCOMPARE(status.value(QStringLiteral("role_cause")).toString(), QStringLiteral("keepalived"));
    }

    // What keeps an alarm from a phone, read from a snapshot: each cause alone, the ones that
    // are no fault (a backup's silence, a switch not yet heard right after start, a failure
    // long past), and the same reading in the JSON the web face gets and in its metrics.
    void alarmPathReading_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("causes");
        QTest::newRow("all well") << "" << QStringList{};
        QTest::newRow("platform port") << "platform unbound" << QStringList{"platform_port"};
        QTest::newRow("platform quiet") << "platform quiet" << QStringList{"platform_quiet"};
        QTest::newRow("never heard past the silence") << "platform never heard, 61 s" << QStringList{"platform_quiet"};
        QTest::newRow("never heard, silence not over") << "platform never heard, 30 s" << QStringList{};
        QTest::newRow("only a stranger heard, long ago") << "only a stranger heard" << QStringList{"platform_quiet"};
        QTest::newRow("silence not watched") << "platform never heard, 61 s, silence 0" << QStringList{};
        QTest::newRow("backup hears nothing") << "backup" << QStringList{};
        QTest::newRow("wrong address just now") << "wrong address 1 s ago" << QStringList{"wrong_address"};
        QTest::newRow("wrong address long ago") << "wrong address 61 s ago" << QStringList{};
        QTest::newRow("check code") << "check code 1 s ago" << QStringList{"check_code"};
        QTest::newRow("replies failing") << "platform send failed" << QStringList{"platform_send"};
        QTest::newRow("directory unread") << "directory unread" << QStringList{"directory_unread"};
        QTest::newRow("directory empty") << "directory empty" << QStringList{"directory_empty"};
        QTest::newRow("channel 0 off") << "channel 0 off" << QStringList{"channel0_disabled"};
        QTest::newRow("key file") << "key file" << QStringList{"key_file"};
        QTest::newRow("switch silent") << "switch silent" << QStringList{"switch_quiet"};
        QTest::newRow("switch silent right after start") << "switch silent, 5 s" << QStringList{};
        QTest::newRow("switch port") << "switch unbound" << QStringList{"switch_quiet"};
        QTest::newRow("key sends failing") << "switch send failed" << QStringList{"switch_send"};
        QTest::newRow("no sound device") << "no sound device" << QStringList{"sound"};
        QTest::newRow("last play failed") << "play failed" << QStringList{"sound"};
        QTest::newRow("player that cannot tell") << "sound unknown" << QStringList{};
        QTest::newRow("store away") << "store away" << QStringList{"store"};
        QTest::newRow("two at once") << "directory empty+channel 0 off" << QStringList{"directory_empty", "channel0_disabled"};
    }
    void alarmPathReading()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, causes);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        TStatusSnapshot s;
        s.Role = QStringLiteral("single");
        s.StartedMs = now - 3600 * 1000;
        s.TakenMs = now;
        s.SilenceSeconds = 60;
        s.Platform.Bound = s.Platform.Up = true;
        s.Platform.State = QStringLiteral("up");
        s.Platform.LastReceivedMs = s.PlatformHeardMs = now - 1000;
        s.Switch.Bound = s.Switch.Up = true;
        s.Groups = 1;
        s.Extensions = 1;
        s.SoundKnown = s.Sound.DeviceFound = true;
        for (const QString &step : change.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
            if (step == QLatin1String("platform unbound"))
                s.Platform.Bound = false;
            else if (step == QLatin1String("platform quiet")) {
                s.Platform.State = QStringLiteral("quiet");
                s.Platform.LastReceivedMs = s.PlatformHeardMs = now - 61000;
            } else if (step == QLatin1String("only a stranger heard")) {
                // The platform never spoke; another address did, long ago.
                s.Platform.State = QStringLiteral("wrong");
                s.PlatformHeardMs = 0;
                s.Platform.LastReceivedMs = s.LastWrongAddressMs = now - 61000;
                s.WrongAddressRequests = 1;
                s.StartedMs = now - 120000;
            }
            else if (step.startsWith(QLatin1String("platform never heard"))) {
                s.Platform.State = QStringLiteral("not_heard");
                s.Platform.LastReceivedMs = s.PlatformHeardMs = 0;
                s.StartedMs = now - (step.contains(QLatin1String("61 s")) ? 61000 : 30000);
                if (step.endsWith(QLatin1String("silence 0")))
                    s.SilenceSeconds = 0;
            } else if (step == QLatin1String("backup")) {
                s.Role = QStringLiteral("backup");
                s.Platform.State = QStringLiteral("not_heard");
                s.Platform.LastReceivedMs = s.PlatformHeardMs = 0;
                s.Switch.Up = false;
            } else if (step.startsWith(QLatin1String("wrong address"))) {
                s.WrongAddressRequests = 3;
                s.LastWrongAddress = QStringLiteral("10.0.0.9");
                s.LastWrongAddressMs = now - (step.contains(QLatin1String("61 s")) ? 61000 : 1000);
            } else if (step.startsWith(QLatin1String("check code"))) {
                s.CheckFailures = 2;
                s.LastCheckFailureMs = now - 1000;
            } else if (step == QLatin1String("platform send failed"))
                s.Platform.LastSendFailureMs = now - 1000;
            else if (step == QLatin1String("directory unread"))
                s.Groups = s.Extensions = -1;
            else if (step == QLatin1String("directory empty"))
                s.Extensions = 0;
            else if (step == QLatin1String("channel 0 off"))
                s.Channel0Enabled = false;
            else if (step == QLatin1String("key file"))
                s.KeyFileProblem = QStringLiteral("键位数据 key.dat 有 1000 字节");
            else if (step.startsWith(QLatin1String("switch silent"))) {
                s.Switch.Up = false;
                if (step.endsWith(QLatin1String("5 s")))
                    s.StartedMs = now - 5000;
            } else if (step == QLatin1String("switch unbound"))
                s.Switch = {};
            else if (step == QLatin1String("switch send failed"))
                s.Switch.LastSendFailureMs = now - 1000;
            else if (step == QLatin1String("no sound device"))
                s.Sound.DeviceFound = false;
            else if (step == QLatin1String("play failed")) {
                s.Sound.LastPlayOk = false;
                s.Sound.Problem = QStringLiteral("格式不对");
            } else if (step == QLatin1String("sound unknown"))
                s.SoundKnown = false;
            else if (step == QLatin1String("store away")) {
                s.StoreReachable = false;
                s.StoreFailingSinceMs = now - 1000;
            } else
                QFAIL(qPrintable(QStringLiteral("no such change: ") + step));
        }
        s.AlarmPath = TAlarmPath::Read(s, now);
        QStringList read;
        for (const auto &p : s.AlarmPath) {
            read << p.Cause;
            QVERIFY2(!p.Text.isEmpty(), qPrintable(p.Cause));
        }
        QCOMPARE(read, causes);

        const TStatusSnapshot back = TStatusSnapshot::FromJson(s.ToJson());
        QCOMPARE(back.AlarmPath, s.AlarmPath);
        const QByteArray metrics = TMetricsText::Make(back);
        QVERIFY(metrics.contains("varnex_alarm_path_ok " + QByteArray(causes.isEmpty() ? "1" : "0") + '\n'));
        for (const QString &cause : TAlarmPath::Causes())
            QVERIFY2(metrics.contains("varnex_alarm_path_problem{cause=\"" + cause.toLatin1() + "\"} "
                                      + (causes.contains(cause) ? "1" : "0") + '\n'),
                     qPrintable(cause));
        QCOMPARE(metrics.contains("varnex_sound_up "), s.SoundKnown); // a player that cannot tell says nothing
        if (s.SoundKnown)
            QVERIFY(metrics.contains("varnex_sound_up " + QByteArray(s.Sound.DeviceFound && s.Sound.LastPlayOk ? "1" : "0") + '\n'));
    }

    // A running program's misconfigurations and what arrives wrong, each seen in the status
    // over the control socket and said once on the memo (and so in the journal) as it comes.
    void alarmPathOfARunningProgram_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("extension");
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QString>("arrives");
        QTest::addColumn<QString>("cause");
        const QByteArray keys = TestSupport::KeyFile({{3 * TKeyTable::KeysPerKeyboard, 2001}});
        QTest::newRow("all well") << QStringList{} << true << keys << "" << "";
        QTest::newRow("channel 0 off") << QStringList{"ifUse0=yes"} << true << keys << "" << "channel0_disabled";
        QTest::newRow("key.dat of 1,000 bytes") << QStringList{} << true << QByteArray(1000, '\1') << "" << "key_file";
        QTest::newRow("no key.dat") << QStringList{} << true << QByteArray() << "" << "key_file";
        QTest::newRow("keyboard without keys") << QStringList{"CurrentKeyboard=2"} << true << keys << "" << "key_file";
        QTest::newRow("switched to a keyboard without keys") << QStringList{} << true << keys << "keyboard 2" << "key_file";
        QTest::newRow("empty directory") << QStringList{} << false << keys << "" << "directory_empty";
        QTest::newRow("request from another address") << QStringList{} << true << keys << "from 127.0.0.2" << "wrong_address";
        QTest::newRow("wrong check code") << QStringList{} << true << keys << "bad check code" << "check_code";
        QTest::newRow("unknown check type") << QStringList{"CheckType=CRC16"} << true << keys << "group list" << "check_code";
        QTest::newRow("no sound device") << QStringList{} << true << keys << "sound device gone" << "sound";
        QTest::newRow("a sound that failed") << QStringList{} << true << keys << "play failed" << "sound";
        QTest::newRow("platform silent") << QStringList{"CommSilenceSeconds=1"} << true << keys << "wait 1.5 s" << "platform_quiet";
    }
    void alarmPathOfARunningProgram()
    {
        QFETCH(QStringList, lines);
        QFETCH(bool, extension);
        QFETCH(QByteArray, keys);
        QFETCH(QString, arrives);
        QFETCH(QString, cause);
        TServedProgram p(lines, extension, keys);
        QVERIFY2(p.Listening, qPrintable(p.ListenProblem));
        const int port = p.Core->Config().CommRecIpPort;
        const QByteArray groupList = QByteArray::fromHex("4c4454580400000000006d61");
        if (arrives == QLatin1String("from 127.0.0.2")) {
            QUdpSocket other;
            QVERIFY(other.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
            other.writeDatagram(groupList, QHostAddress::LocalHost, quint16(port));
            QTest::qWait(200);
        } else if (arrives == QLatin1String("bad check code")) {
            p.Platform.writeDatagram(groupList.chopped(2) + QByteArray(2, '\0'), QHostAddress::LocalHost, quint16(port));
            QTest::qWait(200);
        } else if (arrives == QLatin1String("group list")) {
            p.Platform.writeDatagram(groupList, QHostAddress::LocalHost, quint16(port));
            QTest::qWait(200);
        } else if (arrives == QLatin1String("keyboard 2")) {
            p.Core->Config().CurrentKeyboard = 2; // as the 键盘号 dialog sets it
        } else if (arrives == QLatin1String("sound device gone")) {
            TSoundState gone;
            gone.Problem = QStringLiteral("没有找到声音输出设备");
            p.Player.SetState(gone);
        } else if (arrives == QLatin1String("play failed")) {
            TSoundState failed;
            failed.DeviceFound = true;
            failed.Device = QStringLiteral("default");
            failed.LastPlayOk = false;
            failed.Problem = QStringLiteral("w0.wav: 格式不对");
            failed.LastPlayMs = QDateTime::currentMSecsSinceEpoch();
            p.Player.SetState(failed);
        } else if (arrives == QLatin1String("wait 1.5 s"))
            QTest::qWait(1500);
        p.Core->Status().Refresh();
        const QJsonObject status = p.Ask({{"command", "status"}}).Reply.value(QStringLiteral("status")).toObject();
        const QJsonObject path = status.value(QStringLiteral("alarm_path")).toObject();
        QStringList causes;
        for (const QJsonValue &problem : path.value(QStringLiteral("problems")).toArray())
            causes << problem.toObject().value(QStringLiteral("cause")).toString();
        if (cause.isEmpty()) {
            QVERIFY2(path.value(QStringLiteral("ok")).toBool(), qPrintable(causes.join(u' ')));
            QVERIFY(p.Core->LogMemo().Lines().join(u'\n').contains(QStringLiteral("报警通路检查：正常")));
            return;
        }
        QVERIFY2(causes.contains(cause), qPrintable(causes.join(u' ')));
        QVERIFY(!path.value(QStringLiteral("ok")).toBool());
        // Said on the memo: at the first reading among the start's problems, or as it came.
        const QString memo = p.Core->LogMemo().Lines().join(u'\n');
        QVERIFY2(memo.contains(QStringLiteral("报警通路检查：")) && memo.contains(QStringLiteral("报警通路")), qPrintable(memo));
        // What arrives wrong is said where it is dropped, once, not again by the alarm path.
        if (TAlarmPath::SaidWhereItHappens(cause))
            QVERIFY2(!memo.contains(QStringLiteral("报警通路问题：")), qPrintable(memo));
        else if (arrives == QLatin1String("wait 1.5 s"))
            QVERIFY2(memo.contains(QStringLiteral("报警通路问题：")), qPrintable(memo));
    }

    // A second program is not allowed to take the first one's socket.
    void socketInUseIsRefused()
    {
        TServedProgram p;
        QVERIFY2(p.Listening, qPrintable(p.ListenProblem));
        TControlServer second(p.Core->Status(), p.Core->PairRole());
        QString why;
        QCOMPARE(second.Listen(p.Path, &why), TControlServer::TListen::Taken);
        QVERIFY2(why.contains(QStringLiteral("另一个程序")), qPrintable(why));
        QCOMPARE(p.Ask({{"command", "check"}}).Reached, true);
    }
};

QTEST_GUILESS_MAIN(TstStatus)
#include "tst_status.moc"
