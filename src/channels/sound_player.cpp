#include "channels/sound_player.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QDateTime>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>

namespace {

// A failed play says why; otherwise a missing device is what is wrong.
QString Problem(const TSoundState &state, const QString &playProblem)
{
    if (!state.LastPlayOk)
        return playProblem;
    return state.DeviceFound ? QString() : QStringLiteral("没有找到声音输出设备");
}

} // namespace

void TSoundPlayer::SetState(const TSoundState &state)
{
    if (state == Current)
        return;
    Current = state;
    Q_EMIT StateChanged();
}

TMediaSoundPlayer::TMediaSoundPlayer(QObject *parent) : TSoundPlayer(parent), Output(new QAudioOutput(this))
{
    Renew();
    // A sound card plugged in (or a sound server started) later is taken up without a restart.
    connect(&Devices, &QMediaDevices::audioOutputsChanged, this, &TMediaSoundPlayer::FindDevice);
    FindDevice();
}

void TMediaSoundPlayer::FindDevice()
{
    const QAudioDevice own = Output->device();
    if (own.isNull() || !QMediaDevices::audioOutputs().contains(own))
        Output->setDevice(QMediaDevices::defaultAudioOutput());
    TSoundState state = State();
    state.DeviceFound = !Output->device().isNull();
    state.Device = Output->device().description();
    state.Problem = Problem(state, state.Problem);
    SetState(state);
}

void TMediaSoundPlayer::PlayEnded(bool ok, const QString &problem)
{
    TSoundState state = State();
    state.LastPlayOk = ok;
    state.LastPlayMs = QDateTime::currentMSecsSinceEpoch();
    state.Problem = Problem(state, problem);
    SetState(state);
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
        if (status == QMediaPlayer::EndOfMedia) {
            PlayEnded(true, QString());
            Q_EMIT Finished();
        }
    });
    connect(MediaPlayer, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error, const QString &why) {
        PlayEnded(false, QStringLiteral("声音文件 %1 无法播放（%2）")
                             .arg(QFileInfo(MediaPlayer->source().toLocalFile()).fileName(), why));
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
        PlayEnded(false, QStringLiteral("声音文件 %1 不存在").arg(path));
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
