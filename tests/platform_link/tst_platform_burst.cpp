#include "channels/play_channels.h"
#include "platform_link/ldtx_frame.h"
#include "app/varnex_core.h"
#include "support/other_program.h"
#include "support/test_support.h"

#include <QElapsedTimer>
#include <QTimer>
#include "directory/directory_copy.h"
#include "directory/directory_store.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

// The program's core with a platform socket of this test, over loopback. Its timers are not
// started: whatever is answered is answered on arrival.
struct TLiveLink
{
    QTemporaryDir Dir;
    QUdpSocket Platform;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;
    quint16 Port = 0;

    TLiveLink()
    {
        Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Core = TestSupport::StartCore(Dir, {QStringLiteral("CommIpPort=%1").arg(Platform.localPort())}, &Player);
        Port = quint16(Core->Config().CommRecIpPort);
    }
    void Send(const QByteArray &bytes) { Platform.writeDatagram(bytes, QHostAddress::LocalHost, Port); }
    static QByteArray GroupListRequest(uint16_t id)
    {
        return LdtxFrame::Build({}, LdtxFrame::GroupListQuery, 0, id, QStringLiteral("CRC-16/MODBUS"))->Bytes;
    }
    // The count byte of the reply to one listing request; -1 when none came.
    int ListingCount(uint8_t type)
    {
        Send(LdtxFrame::Build({}, type, 0, 1, QStringLiteral("CRC-16/MODBUS"))->Bytes);
        if (!QTest::qWaitFor([&] { return Platform.hasPendingDatagrams(); }, 5000))
            return -1;
        return uint8_t(Platform.receiveDatagram().data().at(10));
    }
    // The message IDs of the replies that arrive until none has come for a while.
    QList<int> Replies(int expected)
    {
        QList<int> ids;
        (void)QTest::qWaitFor(
            [&] {
                while (Platform.hasPendingDatagrams()) {
                    const QByteArray reply = Platform.receiveDatagram().data();
                    ids << (uint8_t(reply[6]) | uint8_t(reply[7]) << 8);
                }
                return ids.size() >= expected;
            },
            5000);
        return ids;
    }
};

} // namespace

class TstPlatformBurst : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A header alone in its datagram, with a length below the limit that its datagram does not
    // bring, holds nothing up: the next request starts a datagram of its own, so the header is
    // given up, and every request is answered at once, in order.
    void aBrokenHeaderCostsOnlyItself_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("requests");
        QTest::newRow("length 1459, 130 requests") << QByteArray("LDTX\xB3\x05", 6) << 130;
        QTest::newRow("length 1400, one request") << QByteArray("LDTX\x78\x05", 6) << 1;
    }
    void aBrokenHeaderCostsOnlyItself()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, requests);
        TLiveLink l;
        l.Send(header);
        QList<int> sent;
        for (uint16_t id = 1; id <= requests; ++id) {
            l.Send(TLiveLink::GroupListRequest(id));
            sent << id;
        }
        QCOMPARE(l.Replies(requests), sent);
        QCOMPARE(l.Core->CommMsg().Lines().count(TPlatformLink::BrokenFrameText()), 1);
        QCOMPARE(l.Core->PlatformLink().Receiver().Pending(), 0);
    }

    // Another program holding the directory locked: the requests are answered at once from the
    // rows last read, and the operator is told once; and again once it can be read.
    void aLockedDirectoryIsAnsweredFromTheCopy()
    {
        TLiveLink l;
        for (const char *number : {"2001", "2002", "2003"})
            QVERIFY(l.Core->Directory().AddTelNumber(QString::fromLatin1(number), QStringLiteral("井口"), {}, {"1"}, QStringLiteral("0"), {}).isEmpty());
        const QByteArray request = LdtxFrame::Build({}, LdtxFrame::DeviceStatusQuery, 0, 1, QStringLiteral("CRC-16/MODBUS"))->Bytes;
        l.Send(request);
        QCOMPARE(l.Replies(1).size(), 1);
        const qsizetype lines = l.Core->LogMemo().Lines().size();
        {
            TOtherProgram locker(l.Dir.filePath(QStringLiteral("DATA/ChaDB.sqlite")), {QStringLiteral("BEGIN EXCLUSIVE")});
            QVERIFY(locker.Ok);
            l.Core->Directory().Copy().Expire();
            QElapsedTimer answered;
            answered.start();
            for (int i = 0; i < 3; ++i) {
                l.Send(request);
                QCOMPARE(l.Replies(1).size(), 1);
            }
            QVERIFY2(answered.elapsed() < 1500, "a request waited for the lock"); // the store's busy timeout
            QVERIFY(l.Core->PlatformLink().RecCrcText().size() > 0);
            QCOMPARE(l.Core->CommMsg().Lines().filter(QStringLiteral("电话个数=3")).size(), 4);
            const QStringList said = l.Core->LogMemo().Lines().mid(lines);
            QCOMPARE(said.size(), 1);
            QVERIFY2(said[0].startsWith(TDirectoryCopy::UnreadableText()), qPrintable(said[0]));
        }
        l.Core->Directory().Copy().Expire();
        l.Send(request);
        QCOMPARE(l.Replies(1).size(), 1);
        QCOMPARE(l.Core->LogMemo().Lines().last(), TDirectoryCopy::ReadableAgainText());
    }

    // The program's own directory writes wait for another program's lock without stopping the
    // link: a request that comes meanwhile is answered before the write gives up.
    void aWriteWaitingForALockDoesNotStallTheLink()
    {
        TLiveLink l;
        const QByteArray request = TLiveLink::GroupListRequest(3);
        l.Send(request);
        QCOMPARE(l.Replies(1), QList<int>{3});
        TOtherProgram locker(l.Dir.filePath(QStringLiteral("DATA/ChaDB.sqlite")), {QStringLiteral("BEGIN EXCLUSIVE")});
        QVERIFY(locker.Ok);
        QElapsedTimer clock;
        clock.start();
        qint64 answeredAt = -1;
        QObject::connect(&l.Platform, &QUdpSocket::readyRead, &l.Platform, [&] {
            if (answeredAt < 0)
                answeredAt = clock.elapsed();
        });
        QTimer::singleShot(50, &l.Platform, [&] { l.Send(TLiveLink::GroupListRequest(4)); });
        const QString why = l.Core->Directory().AddTelNumber(QStringLiteral("2009"), {}, {}, {}, {}, {});
        const qint64 gaveUp = clock.elapsed();
        QVERIFY2(TDM::IsBusy(why), qPrintable(why));
        QVERIFY(gaveUp >= TDM::BusyTimeoutMs);
        QVERIFY2(answeredAt >= 0 && answeredAt < gaveUp, qPrintable(QString::number(answeredAt)));
        QCOMPARE(l.Replies(1), QList<int>{4});
    }

    // Rows another program commits are in the next listings, however often the same listings
    // were answered before.
    void anotherProgramsCommitIsAnswered()
    {
        TLiveLink l;
        QVERIFY(l.Core->Directory().AddTelNumber(QStringLiteral("2001"), {}, {}, {"1"}, {}, {}).isEmpty());
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(l.ListingCount(LdtxFrame::DeviceStatusQuery), 1);
            QCOMPARE(l.ListingCount(LdtxFrame::GroupListQuery), 0);
        }
        {
            TOtherProgram writer(l.Dir.filePath(QStringLiteral("DATA/ChaDB.sqlite")),
                                 {QStringLiteral("INSERT INTO TelNumber(TelNum, sequence, TelName, GroupNo1, Status) "
                                                 "VALUES (2002, 2, 'b', '1', 0)"),
                                  QStringLiteral("INSERT INTO \"Group\"(GroupNum, sequence, GroupName) VALUES (1, 1, 'a')")});
            QVERIFY(writer.Ok);
        }
        QTRY_COMPARE(l.ListingCount(LdtxFrame::DeviceStatusQuery), 2);
        QCOMPARE(l.ListingCount(LdtxFrame::GroupListQuery), 1);
    }

    // A large directory is read anew on a thread of its own: the request right after a commit
    // is answered at once from the rows before it, and the new rows are swapped in when read.
    void aLargeCopyIsRenewedBesideTheLink()
    {
        TLiveLink l;
        TDirectoryCopy &copy = l.Core->Directory().Copy();
        QVERIFY(l.Core->TelBook()
                    .Initialise({QStringLiteral("10000"), QStringLiteral("1"), QStringLiteral("是"), QStringLiteral("1"), {}, {},
                                 QString::number(TDirectoryCopy::LargeRows + 1000)})
                    .isEmpty());
        const TDirectoryRows *rows = copy.Rows(); // read here: the copy before was small
        QVERIFY(rows && !copy.IsRenewing());
        const size_t before = rows->Phones.size();
        const quint64 generation = rows->Generation;
        QCOMPARE(before, TDirectoryCopy::LargeRows + 1000);
        QVERIFY(l.Core->Directory().Query().Execute(QStringLiteral("insert into TelNumber(TelNum, sequence) values (?, ?)"),
                                                    {2001, 999999}));
        rows = copy.Rows();
        QCOMPARE(rows->Phones.size(), before); // not read on this thread
        QCOMPARE(rows->Generation, generation);
        QVERIFY(copy.IsRenewing());
        QTRY_VERIFY(!copy.IsRenewing());
        rows = copy.Rows();
        QCOMPARE(rows->Phones.size(), before + 1);
        QVERIFY(rows->Generation > generation);
        QCOMPARE(l.ListingCount(LdtxFrame::GroupListQuery), 0);
    }

    // The program's own commit is in the very next listing, without waiting for the copy's
    // look at the file (set to an hour here), also right after a read that failed.
    void ownCommitIsAnsweredAtOnce_data()
    {
        QTest::addColumn<bool>("afterAFailedRead");
        QTest::newRow("copy read fine") << false;
        QTest::newRow("after a failed read") << true;
    }
    void ownCommitIsAnsweredAtOnce()
    {
        QFETCH(bool, afterAFailedRead);
        TLiveLink l;
        l.Core->Directory().Copy().SetRecheckMs(3600 * 1000);
        QVERIFY(l.Core->Directory().AddTelNumber(QStringLiteral("2001"), {}, {}, {"1"}, {}, {}).isEmpty());
        QCOMPARE(l.ListingCount(LdtxFrame::DeviceStatusQuery), 1);
        if (afterAFailedRead) {
            TOtherProgram locker(l.Dir.filePath(QStringLiteral("DATA/ChaDB.sqlite")), {QStringLiteral("BEGIN EXCLUSIVE")});
            QVERIFY(locker.Ok);
            l.Core->Directory().Copy().Expire();
            QCOMPARE(l.ListingCount(LdtxFrame::DeviceStatusQuery), 1); // from the copy; the read failed
        }
        QVERIFY(l.Core->Directory().AddTelNumber(QStringLiteral("2002"), {}, {}, {"1"}, {}, {}).isEmpty());
        QCOMPARE(l.ListingCount(LdtxFrame::DeviceStatusQuery), 2);
    }

    // A request that arrives while the program's own commit waits (another program reads the
    // file) is answered from the rows before it, and the memo does not say that another
    // program holds the directory: the lock is the program's own.
    void ownLockIsNotBlamedOnAnotherProgram()
    {
        TLiveLink l;
        QVERIFY(l.Core->Directory().AddTelNumber(QStringLiteral("2001"), {}, {}, {"1"}, {}, {}).isEmpty());
        QCOMPARE(l.ListingCount(LdtxFrame::DeviceStatusQuery), 1);
        const qsizetype lines = l.Core->LogMemo().Lines().size();
        int answered = -1;
        {
            TOtherProgram reader(l.Dir.filePath(QStringLiteral("DATA/ChaDB.sqlite")),
                                 {QStringLiteral("BEGIN"), QStringLiteral("SELECT count(*) FROM TelNumber")});
            QVERIFY(reader.Ok);
            l.Core->Directory().Copy().Expire();
            QTimer::singleShot(100, &l.Platform, [&] {
                l.Send(LdtxFrame::Build({}, LdtxFrame::DeviceStatusQuery, 0, 9, QStringLiteral("CRC-16/MODBUS"))->Bytes);
            });
            QObject::connect(&l.Platform, &QUdpSocket::readyRead, &l.Platform, [&] {
                if (answered < 0 && l.Platform.hasPendingDatagrams())
                    answered = uint8_t(l.Platform.receiveDatagram().data().at(10));
            });
            // Waits for the reader's lock (while the link goes on), then gives up.
            QVERIFY(!l.Core->Directory().AddTelNumber(QStringLiteral("2002"), {}, {}, {"1"}, {}, {}).isEmpty());
        }
        QCOMPARE(answered, 1);
        const QStringList said = l.Core->LogMemo().Lines().mid(lines);
        QVERIFY2(said.filter(TDirectoryCopy::UnreadableText()).isEmpty(), qPrintable(said.join(QLatin1Char('\n'))));
    }

    // The copy is read at start. A directory another program holds locked from before the start
    // cannot be: the operator is told, requests get count 0, and the first request after the
    // lock is released has the rows.
    void aDirectoryLockedAtStart()
    {
        QTemporaryDir dir;
        QUdpSocket platform;
        QVERIFY(platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        const QStringList settings{QStringLiteral("CommIpPort=%1").arg(platform.localPort())};
        TRecordingPlayer player;
        {
            auto first = TestSupport::StartCore(dir, settings, &player);
            QVERIFY(first->Directory().AddTelNumber(QStringLiteral("2001"), {}, {}, {"1"}, {}, {}).isEmpty());
        }
        auto locker = std::make_unique<TOtherProgram>(dir.filePath(QStringLiteral("DATA/ChaDB.sqlite")),
                                                      QStringList{QStringLiteral("BEGIN EXCLUSIVE")});
        QVERIFY(locker->Ok);
        auto core = TestSupport::StartCore(dir, settings, &player);
        QVERIFY(!core->LogMemo().Lines().filter(TDirectoryCopy::NeverReadText()).isEmpty());
        const auto count = [&] {
            core->Dispatcher().ExecOnCommCommand(5, 0, LdtxFrame::DeviceStatusQuery, {});
            if (!QTest::qWaitFor([&] { return platform.hasPendingDatagrams(); }, 5000))
                return -1;
            return int(uint8_t(platform.receiveDatagram().data()[10]));
        };
        QCOMPARE(count(), 0);
        locker.reset();
        QCOMPARE(count(), 1); // no wait for the copy's next look at the file
        QCOMPARE(core->LogMemo().Lines().last(), TDirectoryCopy::FirstReadText());
    }

    // Read at start: a notification right after the start has its members, even when another
    // program locks the directory from then on.
    void copyReadAtStart()
    {
        QTemporaryDir dir;
        QUdpSocket platform;
        QVERIFY(platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        const QStringList settings{QStringLiteral("CommIpPort=%1").arg(platform.localPort()), QStringLiteral("ifUse0=是")};
        TRecordingPlayer player;
        {
            auto first = TestSupport::StartCore(dir, settings, &player);
            QVERIFY(first->Directory().AddTelNumber(QStringLiteral("2001"), {}, {}, {"4"}, {}, {}).isEmpty());
        }
        auto core = TestSupport::StartCore(dir, settings, &player);
        TOtherProgram locker(dir.filePath(QStringLiteral("DATA/ChaDB.sqlite")), {QStringLiteral("BEGIN EXCLUSIVE")});
        QVERIFY(locker.Ok);
        const QByteArray voice = QByteArray(1, char(0)) + LdtxFrame::Le32(4) + char(0) + "x" + char(1);
        core->Dispatcher().ExecOnCommCommand(6, 0, LdtxFrame::VoiceNotify, voice);
        QVERIFY(QTest::qWaitFor([&] { return platform.hasPendingDatagrams(); }, 5000));
        QCOMPARE(uint8_t(platform.receiveDatagram().data()[10]), uint8_t(1));
        QCOMPARE(core->Channels().Channel(0).State, uint8_t(ChnOffHook));
    }

    // 14 KB of the byte 'L' are dropped at once; the request behind them is answered.
    void junkDoesNotSilenceTheLink()
    {
        TLiveLink l;
        l.Send(QByteArray(7000, 'L'));
        l.Send(QByteArray(7000, 'L'));
        l.Send(TLiveLink::GroupListRequest(77));
        QCOMPARE(l.Replies(1), QList<int>{77});
        QCOMPARE(l.Core->PlatformLink().Receiver().Pending(), 0);
    }
};

QTEST_GUILESS_MAIN(TstPlatformBurst)
#include "tst_platform_burst.moc"
