#pragma once

#include "history/notice.h"
#include "status/status_snapshot.h"

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
class THistory;
class TLineLog;
class TStatusPublisher;

// The read-only face over HTTP: "/" a status page for a person, "/api/status" the snapshot,
// "/api/history" the history as 通知记录 filters it, "/metrics" for Prometheus, and "/events"
// (WebSocket) that pushes the page what changed. It reads the published snapshot and the
// history's own reader; nothing it serves changes anything. Beyond loopback every request
// must carry the token.
class TWebServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int PushMs = 250;
    static constexpr int RecentEntries = 50;
    static constexpr int MaxPage = 500;
    static constexpr qsizetype MaxUrlBytes = 4096;

    TWebServer(TStatusPublisher &status, THistory &history, QObject *parent = nullptr);
    ~TWebServer() override;

    // "host:port" (IPv6 in brackets) as the settings give it; false with why.
    static bool ParseAddress(const QString &text, QHostAddress *host, quint16 *port, QString *why);
    // Serves on address; a port of 0 takes a free one. An address beyond loopback needs a
    // token. False with why (the line an operator is shown), and nothing served.
    bool Listen(const QString &address, const QString &token, QString *why);
    // Listen as the settings ask: an empty address serves nothing; a problem is one line on memo.
    bool Serve(const QString &address, const QString &token, TLineLog &memo);
    void Close();
    bool IsListening() const;
    quint16 Port() const;

    // The message the page gets: the snapshot's fields, today's counts and the latest history.
    QJsonObject PageMessage();

private:
    bool Admits(const QHttpServerRequest &request) const;
    bool TokenMatches(const QString &given) const;
    // The answer to a request this server does not serve as asked (token, method, size); none
    // when it may be served.
    std::optional<QHttpServerResponse> Refusal(const QHttpServerRequest &request) const;
    void AddRoutes();
    void TakeWebSockets();
    void Push();
    void TakeWritten(const QList<TNotice> &entries);
    void LoadRecent();

    TStatusPublisher &Status;
    THistory &History;
    std::unique_ptr<QHttpServer> Server;
    QString Token;
    bool Loopback = true;
    QList<QWebSocket *> Sockets;
    QTimer PushTimer;
    QByteArray LastPushed;
    QList<TNotice> Recent;
    // Requests and datagrams counted up to the start of today, for "today" counts.
    QDate Today;
    quint64 PlatformBase = 0;
    quint64 SwitchBase = 0;
};
