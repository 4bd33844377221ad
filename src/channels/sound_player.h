#pragma once

#include <QObject>
#include <QString>

class QAudioOutput;
class QMediaPlayer;

// The one sound player the play channels share: WAV files by path, told when a sound has
// played to its end. Failures are never reported; a channel runs on without sound.
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

Q_SIGNALS:
    // The sound has played to its end.
    void Finished();
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

    QMediaPlayer *MediaPlayer = nullptr;
    QAudioOutput *Output;
};
