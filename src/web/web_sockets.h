#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

struct MHD_UpgradeResponseHandle;
class QSocketNotifier;

// The page's live feeds: connections the HTTP server has upgraded, framed here (RFC 6455,
// server side: text frames out; masked frames in, of which close and ping are honoured and the
// rest dropped). Lives on the web process's main thread. Bounded: a few per client address, a
// few dozen in all, and a peer that does not read what it is sent is dropped, not buffered for.
class TWebSockets : public QObject
{
    Q_OBJECT
public:
    static constexpr int Most = 64;
    static constexpr int PerClient = 4;
    static constexpr qsizetype MostQueued = 256 * 1024;
    // A client's frame longer than this is refused (the page sends none).
    static constexpr qsizetype MostFrame = 4096;
    // Every feed is pinged this often; one that has not answered the last ping by the next is
    // gone (a peer that vanished without a word would otherwise hold its place for ever).
    static constexpr int PingMs = 30000;

    explicit TWebSockets(QObject *parent = nullptr);
    ~TWebSockets() override;

    // Any thread: a place for one more feed to client, or false when it or everyone has theirs.
    bool Reserve(const QByteArray &client);
    void Release(const QByteArray &client);

    // Takes over an upgraded connection (its place reserved) and sends it first.
    void Adopt(int fd, MHD_UpgradeResponseHandle *handle, const QByteArray &extra, const QByteArray &client,
               const QByteArray &first);
    // A text message to every feed.
    void Send(const QByteArray &text);
    int Count() const { return int(Peers.size()); }
    void SetPingMs(int ms) { Pings.setInterval(ms); }
    void CloseAll();

    // A server's frame (unmasked) of opcode with payload.
    static QByteArray Frame(int opcode, const QByteArray &payload);

private:
    struct TPeer;
    void Readable(TPeer *peer);
    void Writable(TPeer *peer);
    // False when the peer is to be dropped.
    bool Queue(TPeer *peer, const QByteArray &bytes);
    bool Flush(TPeer *peer);
    // Whole frames read: false when the peer is to be closed (after any close frame queued).
    bool TakeFrames(TPeer *peer);
    void Finish(TPeer *peer);
    void Ping();

    std::vector<std::unique_ptr<TPeer>> Peers;
    QTimer Pings{this};
    QMutex Guard;
    QHash<QByteArray, int> PerAddress;
    int Reserved = 0;
};
