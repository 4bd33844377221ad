#include "channels/sound_player.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>

TMediaSoundPlayer::TMediaSoundPlayer(QObject *parent) : TSoundPlayer(parent), Output(new QAudioOutput(this))
{
    Renew();
}

void TMediaSoundPlayer::Renew()
{
    if (MediaPlayer) {
        MediaPlayer->disconnect(this);
        MediaPlayer->stop();
        MediaPlayer->deleteLater();
    }
    MediaPlayer = new QMediaPlayer(this);
    MediaPlayer->setAudioOutput(Output);
    connect(MediaPlayer, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::EndOfMedia)
            Q_EMIT Finished();
    });
}

TMediaSoundPlayer::~TMediaSoundPlayer()
{
    MediaPlayer->stop();
}

bool TMediaSoundPlayer::Open(const QString &path)
{
    const QUrl source = QUrl::fromLocalFile(path);
    if (MediaPlayer->error() == QMediaPlayer::NoError && MediaPlayer->source() == source && QFileInfo(path).isFile()) {
        // The same sound again: rewound in place. Stopping and loading it anew would rebuild the
        // media pipeline for every notification of a flood, and the media libraries keep memory
        // for each.
        MediaPlayer->setPosition(0);
        return true;
    }
    MediaPlayer->stop();
    // Qt keeps the error of a file that failed until the player is replaced, and would refuse
    // every later file with it: each open starts from a clean player.
    if (MediaPlayer->error() != QMediaPlayer::NoError)
        Renew();
    if (!QFileInfo(path).isFile()) {
        MediaPlayer->setSource(QUrl());
        return false;
    }
    MediaPlayer->setSource(source);
    return MediaPlayer->error() == QMediaPlayer::NoError;
}

void TMediaSoundPlayer::Play()
{
    MediaPlayer->play();
}

void TMediaSoundPlayer::Stop()
{
    MediaPlayer->stop();
}

void TMediaSoundPlayer::Rewind()
{
    MediaPlayer->setPosition(0);
}
