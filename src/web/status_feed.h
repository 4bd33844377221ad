#pragma once

#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

// The running program's status as its control socket streams it (`watch`): every snapshot as
// it comes, and word when the stream is lost (no program, it ended, or it went silent), after
// which it asks again every RetryMs until a program answers.
class TStatusFeed : public QObject
{
    Q_OBJECT
public:
    static constexpr int RetryMs = 1000;
    // The program sends a line at least every second; this long without one, it is gone.
    static constexpr int SilenceMs = 5000;
    static constexpr qint64 MostLine = 1 << 20;

    explicit TStatusFeed(const QString &path, QObject *parent = nullptr);

    void Start();
    bool IsWatching() const { return Watching; }
    QString Path() const { return SocketPath; }

Q_SIGNALS:
    void Snapshot(const QJsonObject &status);
    // Once per loss, with why.
    void Lost(const QString &why);

private:
    void Ask();
    void Read();
    void Drop(const QString &why);

    const QString SocketPath;
    QLocalSocket *Socket = nullptr;
    QTimer Retry;
    QTimer Silence;
    bool Watching = false;
    bool Told = false; // Lost said for the current loss
};
