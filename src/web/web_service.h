#pragma once

#include "history/notice.h"
#include "store/store_place.h"

#include <QDate>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponse;
class QWebSocket;
class TStatusPublisher;

// What the web face does, on the web face's thread: the HTTP server and its routes, the
// WebSocket feed and its timer. Every method runs on that thread. It reads only what any
// thread may read (the published snapshot and its atomic counters) and the history through
// connections of its own; the newest history entries reach it as queued signals.
class TWebService : public QObject
{
    Q_OBJECT
public:
    static constexpr int PushMs = 250;
    static constexpr int RecentEntries = 50;
    static constexpr int MaxPage = 500;
    static constexpr qsizetype MaxUrlBytes = 4096;

    // history: where the history is read from; historyOpen: whether there is one to read.
    TWebService(TStatusPublisher &status, const TStorePlace &history, bool historyOpen);
    ~TWebService() override;

    // Serves on host:port (port 0 takes a free one); false with why, and nothing served.
    bool Listen(const QHostAddress &host, quint16 port, const QString &token, QString *why);
    void Close();
    quint16 Port() const;

    // Entries just written to the history, for the page's list.
    void TakeWritten(const QList<TNotice> &entries);

private:
    bool Admits(const QHttpServerRequest &request) const;
    bool TokenMatches(const QString &given) const;
    // The answer to a request this server does not serve as asked (token, method, size); none
    // when it may be served.
    std::optional<QHttpServerResponse> Refusal(const QHttpServerRequest &request) const;
    void AddRoutes();
    void TakeWebSockets();
    // The message the page gets: the snapshot's fields, today's counts and the latest history.
    QJsonObject PageMessage();
    void Push();
    void LoadRecent();

    TStatusPublisher &Status;
    const TStorePlace HistoryPlace;
    const bool HistoryOpen;
    std::unique_ptr<QHttpServer> Server;
    QString Token;
    bool Loopback = true;
    QList<QWebSocket *> Sockets;
    QTimer PushTimer{this};
    QByteArray LastPushed;
    QList<TNotice> Recent;
    // Requests and datagrams counted up to the start of today, for "today" counts.
    QDate Today;
    quint64 PlatformBase = 0;
    quint64 SwitchBase = 0;
};
