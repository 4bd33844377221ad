#include "channels/sound_player.h"
#include "support/test_support.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QMediaPlayer>
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
