#pragma once

#include <QObject>
#include <QString>
#include <QThread>

class QHostAddress;
class THistory;
class TLineLog;
class TStatusPublisher;
class TWebService;

// The read-only face over HTTP: "/" a status page for a person, "/api/status" the snapshot,
// "/api/history" the history as 通知记录 filters it, "/metrics" for Prometheus, and "/events"
// (WebSocket) that pushes the page what changed. It reads the published snapshot and the
// history's own reader; nothing it serves changes anything. Beyond loopback every request
// must carry the token.
//
// Served on a thread of its own, started by Listen and ended by Close, so scrapes and open
// pages never hold the main thread that answers the platform. This object stays with its
// owner's thread; the server and its feed live on the web thread.
class TWebServer : public QObject
{
    Q_OBJECT
public:
    TWebServer(TStatusPublisher &status, THistory &history, QObject *parent = nullptr);
    ~TWebServer() override;

    // "host:port" (IPv6 in brackets) as the settings give it; false with why.
    static bool ParseAddress(const QString &text, QHostAddress *host, quint16 *port, QString *why);
    // Serves on address; a port of 0 takes a free one. An address beyond loopback needs a
    // token. False with why (the line an operator is shown), and nothing served.
    bool Listen(const QString &address, const QString &token, QString *why);
    // Listen as the settings ask: an empty address serves nothing; a problem is one line on memo.
    bool Serve(const QString &address, const QString &token, TLineLog &memo);
    // Stops serving and waits for the web thread to end.
    void Close();
    bool IsListening() const;
    quint16 Port() const;

private:
    TStatusPublisher &Status;
    THistory &History;
    QThread Thread;
    // Lives on Thread from Listen to Close.
    TWebService *Service = nullptr;
    quint16 ServingPort = 0;
};
