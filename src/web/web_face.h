#pragma once

#include "history/notice.h"
#include "store/store_place.h"
#include "web/http_server.h"
#include "web/status_feed.h"
#include "web/web_sockets.h"

#include <QDate>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QObject>

#include <memory>

// The web face, its own process's whole work: "/" a status page for a person, "/api/status"
// the running program's snapshot, "/api/history" the history as 通知记录 filters it,
// "/metrics" for Prometheus, "/events" the page's live feed. The snapshot comes from the
// program's control socket; the history is read from the store, read-only, and its newest
// entries again whenever the program says it wrote some. While no program answers, the face
// still serves and says so. Lives on its process's main thread; the HTTP server's threads
// read what it publishes under a lock.
class TWebFace : public QObject
{
    Q_OBJECT
public:
    static constexpr int RecentEntries = 50;
    static constexpr int MaxPage = 500;

    // control: the program's control socket; history: where the history is (none: not read).
    TWebFace(const QString &control, const TStorePlace &history, bool historyReadable, QObject *parent = nullptr);
    ~TWebFace() override;

    // Serves as the settings say (HttpAddress, HttpToken and further Host names); false with
    // the line an operator is shown, and nothing served.
    bool Listen(const QString &address, const QString &token, const QStringList &names, QString *why);
    // Options beyond the settings' (limits), for the tests.
    bool Listen(const THttpServer::TOptions &options, QString *why);
    void Close();
    quint16 Port() const { return Http ? Http->Port() : 0; }
    bool Hears() const { return Feed.IsWatching(); }
    TWebSockets &Feeds() { return Sockets; }

    // What a GET of path is answered (any thread).
    TWebAnswer Get(const QByteArray &path, const QUrlQuery &query);

Q_SIGNALS:
    // A line for the operator (the program came, went).
    void Said(const QString &line);

private:
    void Take(const QJsonObject &status);
    void Lose(const QString &why);
    void ReadRecent();
    QJsonObject PageMessage();
    QByteArray PageText();
    void Push();
    TWebAnswer History(const QUrlQuery &query) const;

    const TStorePlace HistoryPlace;
    const bool HistoryReadable;
    TStatusFeed Feed;
    TWebSockets Sockets;
    std::unique_ptr<THttpServer> Http;

    // Published for the server's threads.
    mutable QMutex Guard;
    QJsonObject Status;
    bool Running = false;

    QList<TNotice> Recent;
    quint64 WrittenSeen = 0;
    bool Reading = false;
    bool ReadAgain = false;
    QByteArray LastPushed;
    QDate Today;
    quint64 PlatformBase = 0;
    quint64 SwitchBase = 0;
};
