#pragma once

#include "channels/sound_state.h"

#include <QMediaDevices>
#include <QObject>
#include <QString>

class QAudioOutput;
class QMediaPlayer;

// The one sound player the play channels share: WAV files by path, told when a sound has
// played to its end. Failures never stop a channel; they are kept in State().
class TSoundPlayer : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Closes what was open, then opens the file. False when it cannot be opened.
    virtual bool Open(const QString &path) = 0;
    virtual void Play() = 0;
    virtual void Stop() = 0;
    virtual void Rewind() = 0;

    TSoundState State() const { return Current; }

Q_SIGNALS:
    // The sound has played to its end.
    void Finished();
    void StateChanged();

protected:
    // Emits StateChanged when it differs.
    void SetState(const TSoundState &state);

private:
    TSoundState Current;
};

// The platform's media player with an audio output.
class TMediaSoundPlayer : public TSoundPlayer
{
    Q_OBJECT
public:
    explicit TMediaSoundPlayer(QObject *parent = nullptr);
    ~TMediaSoundPlayer() override;

    bool Open(const QString &path) override;
    void Play() override;
    void Stop() override;
    void Rewind() override;

    QMediaPlayer *Player() const { return MediaPlayer; }

private:
    // A fresh media player on the same output.
    void Renew();
    // The output follows the default device when it had none or lost its own.
    void FindDevice();
    void PlayEnded(bool ok, const QString &problem);

    QMediaDevices Devices;
    QMediaPlayer *MediaPlayer = nullptr;
    QAudioOutput *Output;
};
