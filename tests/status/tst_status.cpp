#include "app/control_client.h"
#include "app/control_server.h"
#include "app/varnex_core.h"
#include "platform_link/ldtx_frame.h"
#include "status/status_snapshot.h"
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

    explicit TServedProgram(const QStringList &lines = {})
    {
        Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Core = TestSupport::StartCore(Dir, lines + QStringList{QStringLiteral("CommIpPort=%1").arg(Platform.localPort()),
                                                               QStringLiteral("ifUse0=是")},
                                      &Player);
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
