#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QSqlDatabase;
class QTimer;

// Holds a connection to a server that tells of changes (LISTEN) and says when they come, and
// keeps that connection: a server that goes away is noticed within a second and tried again
// with a growing pause, never in a tight loop. Lives on the thread that uses its connection.
class TChangeListener : public QObject
{
    Q_OBJECT
public:
    // `make` adds (does not open) the connection this listener owns, named `connection`.
    TChangeListener(QString connection, std::function<void(const QString &)> make, QString channel,
                    QObject *parent = nullptr);
    ~TChangeListener() override;

    // Opens and listens; call on the listener's own thread.
    void Start();
    QString Connection() const { return Name; }
    bool IsUp() const { return Up; }

    // The longest pause between two tries while the server is away: short, since alarms are
    // answered from a copy that stays old until the server is back, and a try costs little.
    static constexpr int MaxRetryMs = 2000;
    static constexpr int CheckMs = 1000;
    // A server that takes longer to answer the check is taken as hung.
    static constexpr int AnswerMs = 3000;

Q_SIGNALS:
    // Read anew: the channel was notified, or the connection (re)opened and what changed
    // meanwhile is unknown.
    void Changed();
    // The server cannot be reached (once per outage), with libpq's words.
    void Lost(const QString &why);

private:
    void Check();
    bool Open(QString *why);
    void Fail(const QString &why);

    QString Name;
    std::function<void(const QString &)> Make;
    QString Channel;
    QTimer *Timer = nullptr;
    bool Up = false;
    bool Said = false;
    int RetryMs = 500;
};
