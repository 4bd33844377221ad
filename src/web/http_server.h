#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_set>

struct MHD_Daemon;
struct MHD_Connection;
struct MHD_UpgradeResponseHandle;
class TWebSockets;

// One answer of the web face.
struct TWebAnswer
{
    int Status = 200;
    QByteArray Type = QByteArrayLiteral("text/plain; charset=utf-8");
    QByteArray Body;
    QList<QPair<QByteArray, QByteArray>> Headers;
};

// The HTTP server of the web process (libmicrohttpd, on threads of its own), with the limits a
// server facing the network needs: connections in all and per client address, the bytes a
// request's head may take, how many header lines, how long a connection may be idle, only GET;
// a request must name this server in its Host, beyond loopback carry the token, and the live
// feed at /events opens only for the page's own Origin. What passes is answered by content (on
// the server's threads) or, for /events, handed to sockets (on their own thread), which first
// sends what first gives there.
class THttpServer
{
public:
    struct TOptions
    {
        QHostAddress Host = QHostAddress(QHostAddress::LocalHost);
        quint16 Port = 0;
        QByteArray Token;
        QStringList Names;           // further names a Host may give (lower case)
        unsigned Connections = 256;  // in all; beyond it a connection is closed as it comes
        unsigned PerClient = 32;     // from one address
        size_t HeadBytes = 32 * 1024; // a connection's memory, which the request's head must fit
        int Headers = 64;            // header lines
        unsigned IdleSeconds = 10;   // a connection silent this long is closed
        // A request's head must be whole this long after the connection opened or the previous
        // answer went: a head dribbled a byte at a time is not waited for, however steady.
        unsigned HeadSeconds = 10;
        unsigned Threads = 2;
        qsizetype UrlBytes = 4096;
    };
    using TContent = std::function<TWebAnswer(const QByteArray &path, const QUrlQuery &query)>;
    using TFirst = std::function<QByteArray()>;

    THttpServer(TContent content, TWebSockets &sockets, TFirst first);
    ~THttpServer();
    THttpServer(const THttpServer &) = delete;
    THttpServer &operator=(const THttpServer &) = delete;

    // Serves as options say; false with why, and nothing served.
    bool Listen(const TOptions &options, QString *why);
    void Close();
    quint16 Port() const { return BoundPort.load(); }

    // One request's head, on the server's threads.
    int Answer(MHD_Connection *connection, const QByteArray &url, const QByteArray &method);

    // A connection's progress, kept for the head's time limit (the server's threads).
    struct TConnection;
    void Opened(MHD_Connection *connection, int fd, void **context);
    void Closed(void *context);
    void Busy(MHD_Connection *connection, bool busy, bool upgraded = false);
    void Done(MHD_Connection *connection);
    // An upgraded connection handed to the live feeds.
    void Handover(MHD_Connection *connection, const QByteArray &extra, int fd, MHD_UpgradeResponseHandle *handle);

private:
    static TConnection *ContextOf(MHD_Connection *connection);
    // Every second: the connections whose head is late are shut down (the server then closes them).
    void Watch();

    std::mutex Guard;
    std::condition_variable Stop;
    bool Stopping = false;
    std::unordered_set<TConnection *> Connections;
    std::thread Watcher;
    int Upgrade(MHD_Connection *connection, const QByteArray &host, const QByteArray &client);

    TContent Content;
    TWebSockets &Sockets;
    TFirst First;
    TOptions Options;
    MHD_Daemon *Daemon = nullptr;
    // Read by the server's threads, which may take a request before Listen has returned.
    std::atomic<quint16> BoundPort{0};
};
