#include "channels/sound_player.h"
#include "support/test_support.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTest>

// The real media player with a real WAV file.
class TstSoundPlayer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void opensPlaysLoopsAndStops()
    {
        TMediaSoundPlayer player;
        const QString wav = QStringLiteral(VARNEX_SOUNDS_DIR "/w1.wav");
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
