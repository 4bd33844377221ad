#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QLocalServer;
class QLocalSocket;
class QSocketNotifier;

// The control socket's listening end, on the thread it lives on. What it must survive is the
// program's other parts: a file removed by hand or by a cleaner of the runtime folder is made
// anew within WatchMs, and descriptors used up elsewhere in the process never close it. A
// connection that arrives when none is left is taken with a descriptor kept in reserve and
// answered at once (Urgent), so keepalived's check still hears this program.
class TControlListener : public QObject
{
    Q_OBJECT
public:
    static constexpr int WatchMs = 1000;
    // After a failed accept with no reserve left, the next try waits this long (no busy loop).
    static constexpr int RetryMs = 200;

    enum class TResult { Listening, Taken, Failed };

    explicit TControlListener(QObject *parent = nullptr);
    ~TControlListener() override;

    // Listens at path, readable and writable by this user only. A file there that no program
    // answers at is replaced; one that answers is another program's: Taken, and it stays.
    TResult Listen(const QString &path, QString *why);
    // Stops listening; the file goes only while it is still the one made here.
    void Close();

    // A connection to serve as it comes (the listener's thread owns it).
    std::function<void(QLocalSocket *)> Take;
    // The answer to one request line, for a connection taken on the reserve descriptor: it is
    // read, answered and closed at once (a request that does not come within UrgentMs gets none).
    std::function<QByteArray(const QByteArray &)> AnswerAtOnce;
    static constexpr int UrgentMs = 300;
    static constexpr int MaxRequest = 4096;

Q_SIGNALS:
    // A line for the operator (from the listener's thread): the file made anew, descriptors out.
    void Said(const QString &line);

private:
    void Accept();
    void ServeAtOnce(int fd);
    void Watch();
    bool Bind(QString *why);
    bool StillOurs() const;

    QString Path;
#ifdef Q_OS_WIN
    QLocalServer *Server = nullptr;
#else
    int Fd = -1;
    int Spare = -1;
    quint64 Device = 0;
    quint64 Inode = 0;
    QSocketNotifier *Notifier = nullptr;
    QTimer WatchTimer{this};
    QElapsedTimer Starved; // since descriptors last ran out
    static constexpr int StarvedQuietMs = 60000;
    bool ForeignSaid = false;
    bool RebindSaid = false;
#endif
};
