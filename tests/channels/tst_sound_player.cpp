#include "channels/sound_player.h"
#include "support/test_support.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QDateTime>
#include <QSignalSpy>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The real media player with a real WAV file.
class TstSoundPlayer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void opensPlaysLoopsAndStops()
    {
        TMediaSoundPlayer player;
        const QString wav = TestSupport::SourcePath(QStringLiteral("share/sounds/w1.wav"));
        QVERIFY(player.Open(wav));
        QTRY_VERIFY_WITH_TIMEOUT(player.Player()->mediaStatus() == QMediaPlayer::LoadedMedia
                                     || player.Player()->error() != QMediaPlayer::NoError,
                                 10000);
        if (player.Player()->error() != QMediaPlayer::NoError)
            QSKIP(qPrintable(QStringLiteral("no media backend can play WAV here: ") + player.Player()->errorString()));

        QSignalSpy finished(&player, &TSoundPlayer::Finished);
        player.Play();
        QTRY_COMPARE(player.Player()->playbackState(), QMediaPlayer::PlayingState);
        QTRY_VERIFY_WITH_TIMEOUT(finished.size() == 1, 20000);
        player.Rewind();
        player.Play();
        QTRY_COMPARE(player.Player()->playbackState(), QMediaPlayer::PlayingState);
        player.Stop();
        QCOMPARE(player.Player()->playbackState(), QMediaPlayer::StoppedState);
    }

    // A damaged file must not leave the player refusing every later sound.
    void aDamagedFileDoesNotSilenceTheNext()
    {
        QTemporaryDir dir;
        const QString damaged = dir.filePath(QStringLiteral("w2.wav"));
        QFile file(damaged);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("RIFF\x10\0\0\0WAVEjunk") + QByteArray(4000, '\x7f'));
        file.close();

        TMediaSoundPlayer player;
        player.Open(damaged);
        player.Play();
        QTRY_VERIFY_WITH_TIMEOUT(player.Player()->error() != QMediaPlayer::NoError
                                     || player.Player()->mediaStatus() == QMediaPlayer::InvalidMedia,
                                 10000);
        for (int i = 0; i < 2; ++i) { // and again after a good one played
            QVERIFY(player.Open(TestSupport::SourcePath(QStringLiteral("share/sounds/w1.wav"))));
            QTRY_VERIFY_WITH_TIMEOUT(player.Player()->mediaStatus() == QMediaPlayer::LoadedMedia
                                         || player.Player()->error() != QMediaPlayer::NoError,
                                     10000);
            QCOMPARE(player.Player()->error(), QMediaPlayer::NoError);
            player.Play();
            QTRY_COMPARE(player.Player()->playbackState(), QMediaPlayer::PlayingState);
            player.Open(damaged);
            player.Play();
            QTRY_VERIFY_WITH_TIMEOUT(player.Player()->error() != QMediaPlayer::NoError
                                         || player.Player()->mediaStatus() == QMediaPlayer::InvalidMedia,
                                     10000);
        }
    }

    // Each play's result is kept, with why it failed; a sound that played does not hide a
    // missing device.
    void theStateSaysHowTheLastPlayWent_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("named"); // in the problem when it failed
        QTest::newRow("played") << TestSupport::SourcePath(QStringLiteral("share/sounds/w1.wav")) << true << QString();
        QTest::newRow("damaged") << QStringLiteral("w2.wav") << false << QStringLiteral("w2.wav");
        QTest::newRow("missing") << QStringLiteral("/nonexistent/w0.wav") << false << QStringLiteral("/nonexistent/w0.wav");
    }
    void theStateSaysHowTheLastPlayWent()
    {
        QFETCH(QString, file);
        QFETCH(bool, ok);
        QFETCH(QString, named);
        QTemporaryDir dir;
        if (file == QLatin1String("w2.wav")) {
            file = dir.filePath(file);
            QFile damaged(file);
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write(QByteArray("RIFF\x10\0\0\0WAVEjunk") + QByteArray(4000, '\x7f'));
        }

        TMediaSoundPlayer player;
        const TSoundState before = player.State();
        QCOMPARE(before.LastPlayMs, qint64(0));
        QCOMPARE(before.Problem.isEmpty(), before.DeviceFound);
        QSignalSpy changed(&player, &TSoundPlayer::StateChanged);
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        if (player.Open(file))
            player.Play();
        QTRY_VERIFY_WITH_TIMEOUT(player.State().LastPlayMs != 0, 20000);
        const TSoundState after = player.State();
        QVERIFY(!changed.isEmpty());
        QVERIFY(after.LastPlayMs >= start);
        QCOMPARE(after.LastPlayOk, ok);
        if (ok)
            QCOMPARE(after.Problem.isEmpty(), after.DeviceFound);
        else
            QVERIFY2(after.Problem.contains(named), qPrintable(after.Problem));
    }

    void missingFileIsRefused()
    {
        TMediaSoundPlayer player;
        QVERIFY(!player.Open(QStringLiteral("/nonexistent/w0.wav")));
        player.Play(); // nothing to play, nothing happens
        player.Stop();
    }
};

QTEST_GUILESS_MAIN(TstSoundPlayer)
#include "tst_sound_player.moc"
