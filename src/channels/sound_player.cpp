#include "channels/sound_player.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>

TMediaSoundPlayer::TMediaSoundPlayer(QObject *parent)
    : TSoundPlayer(parent), MediaPlayer(new QMediaPlayer(this)), Output(new QAudioOutput(this))
{
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
    MediaPlayer->stop();
    if (!QFileInfo(path).isFile()) {
        MediaPlayer->setSource(QUrl());
        return false;
    }
    MediaPlayer->setSource(QUrl::fromLocalFile(path));
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
