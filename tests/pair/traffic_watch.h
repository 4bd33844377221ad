#pragma once

#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <map>
#include <memory>

class QSocketNotifier;
class TFrameScanner;
class QTimer;
class QUdpSocket;

// The network around a standby pair, seen from outside it on a thread of its own (so the test's
// waits and commands never delay a request or a reply's time): the platform asking for the
// group list every 10 ms, the switch's CPUs keeping their link up, and what each machine sends
// on its interface, captured there. Times are microseconds of the monotonic clock (Now()).
class TTrafficWatch : public QObject
{
    Q_OBJECT
public:
    struct TSetup
    {
        QString PlatformNamespace;          // where the platform and the switch CPUs are
        QHostAddress Platform;              // its address and port (the program's CommIpAddress/-Port)
        quint16 PlatformPort = 0;
        QHostAddress Service;               // the pair's address
        quint16 ServicePlatformPort = 0;    // the program's CommRecIpPort
        quint16 ServiceSwitchPort = 0;      // its RecIpPort
        QList<QHostAddress> SwitchCpus;     // the program's IpAddress, IpAddress1
        quint16 SwitchPort = 0;             // IpPort
        QString CheckType = QStringLiteral("CRC-16/MODBUS");
    };
    // A UDP datagram a machine sent, as its interface saw it leave.
    struct TSent
    {
        qint64 AtUs = 0;
        QString From;
        quint16 FromPort = 0;
        QString To;
        quint16 ToPort = 0;
    };
    // A phase's requests and replies.
    struct TFigures
    {
        int Requests = 0;
        int Replies = 0;
        qint64 GapUs = 0;               // the longest time without a reply
        qint64 GapFromUs = 0, GapToUs = 0;
        int Lost = 0;                   // requests never answered (the last 0.5 s not counted)
        int LostOutsideGap = 0;         // of those, sent outside the longest gap
        int Duplicates = 0;             // requests answered twice
        int Stale = 0;                  // replies to requests of an earlier phase
        QStringList Sources;            // every address a reply came from, once each
        int KeyCommandsFromElsewhere = 0; // switch-link datagrams not from the service address
        QStringList SwitchSources;
    };

    explicit TTrafficWatch(const TSetup &setup);
    ~TTrafficWatch() override;

    static qint64 Now();

    // The thread and the platform's and the switch's sockets in their namespace.
    bool Start(QString *why);
    // Captures what leaves interface in namespace, as machine name.
    bool Capture(const QString &name, const QString &ns, const QString &interface, QString *why);

    // A new phase: requests and replies so far are forgotten (message ids go on, so a late
    // reply to an earlier phase is told apart), requests are sent every 10 ms from now on.
    void BeginPhase();
    void StopRequests();
    TFigures Figures();
    // The platform's voice notification to group, with a message id no group-list request uses.
    void SendVoice(int group, const QString &text, quint16 id);
    // The platform's phone call from caller to called: the working program dials at once.
    void SendCall(int caller, int called, quint16 id);
    // UDP datagrams machine name sent since fromUs (before toUs when given).
    QList<TSent> SentBy(const QString &name, qint64 fromUs, qint64 toUs = 0);

private:
    void SendRequest();
    void TakeReplies();
    void TakeSwitch(QUdpSocket *socket);
    void TakeCaptured(int fd, const QString &name);

    TSetup Setup;
    QThread Thread;
    QObject *Home = nullptr;           // lives on Thread; the sockets are its children
    QUdpSocket *PlatformSocket = nullptr;
    QList<QUdpSocket *> SwitchSockets;
    QTimer *Ticker = nullptr;
    QList<QPair<int, QString>> CaptureFds; // with the machine's name

    mutable QMutex Guard;
    quint16 NextId = 0;
    qint64 PhaseStartUs = 0;
    std::map<quint16, qint64> SentAt;      // this phase's requests
    std::map<quint16, int> Answered;
    QList<qint64> ReplyTimes;
    QStringList ReplySources;
    int StaleReplies = 0;
    QList<qint64> SwitchTimes;
    QStringList SwitchFrom;
    std::map<QString, QList<TSent>> Captured;
    std::unique_ptr<TFrameScanner> Replies; // on Thread only
};
