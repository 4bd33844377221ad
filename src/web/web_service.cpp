#include "web/web_service.h"

#include "history/history_query.h"
#include "status/status_publisher.h"
#include "web/metrics_text.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>

namespace {

using TStatusCode = QHttpServerResponse::StatusCode;

QHttpServerResponse Text(const QByteArray &text, TStatusCode code)
{
    return QHttpServerResponse(QByteArrayLiteral("text/plain; charset=utf-8"), text + '\n', code);
}

QJsonValue Time(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toString(Qt::ISODateWithMs)) : QJsonValue();
}

QJsonObject NoticeJson(const TNotice &n)
{
    QJsonArray numbers;
    for (const TNotice::TNumber &number : n.Numbers)
        numbers.append(QJsonObject{{"number", number.Number},
                                   {"name", number.Name},
                                   {"key", number.KeyPosition},
                                   {"sent", Time(number.SentAt)}});
    QJsonObject out{{"id", QString::number(n.Id)}, {"time", Time(n.At)}, {"kind", n.Kind}, {"content", n.Content}};
    if (!n.IsEvent()) {
        out.insert("message_id", n.MessageId);
        out.insert("target", n.Target);
        out.insert("target_name", n.TargetName);
        out.insert("play_count", n.PlayCount);
        out.insert("channel", n.Channel >= 0 ? QJsonValue(n.Channel + 1) : QJsonValue());
        out.insert("outcome", n.Outcome);
        out.insert("numbers", numbers);
        out.insert("sent", Time(n.SentAt));
        out.insert("latency_ms", n.LatencyMs >= 0 ? QJsonValue(double(n.LatencyMs)) : QJsonValue());
    }
    return out;
}

QJsonArray EntriesJson(const QList<TNotice> &entries)
{
    QJsonArray out;
    for (const TNotice &n : entries)
        out.append(NoticeJson(n));
    return out;
}

// One page of the history read on a thread of the pool, on a connection of its own, so a big
// history holds neither the main loop nor the web face's.
QList<TNotice> ReadPage(const TStorePlace &place, const THistoryQuery::TFilter &filter, qint64 before, int limit,
                        QString *why)
{
    static std::atomic<int> serial{0};
    THistoryQuery query(place, QStringLiteral("web-%1").arg(serial.fetch_add(1)));
    if (!query.Open(why))
        return {};
    return query.Page(filter, before, limit, why);
}

QDate DateParameter(const QUrlQuery &query, const char *name, bool *ok)
{
    const QString text = query.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded).trimmed();
    if (text.isEmpty())
        return QDate();
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid())
        *ok = false;
    return date;
}

quint64 RequestsTotal(const TStatusSnapshot &s)
{
    quint64 total = 0;
    for (const auto &kind : s.Requests)
        total += kind.second;
    return total;
}

} // namespace

TWebService::TWebService(TStatusPublisher &status, const TStorePlace &history, bool historyOpen)
    : Status(status), HistoryPlace(history), HistoryOpen(historyOpen)
{
    PushTimer.setInterval(PushMs);
    connect(&PushTimer, &QTimer::timeout, this, &TWebService::Push);
}

TWebService::~TWebService()
{
    Close();
}

bool TWebService::Listen(const QHostAddress &host, quint16 port, const QString &token, QString *why)
{
    Close();
    Loopback = host.isLoopback();
    Token = token;
    Server = std::make_unique<QHttpServer>();
    AddRoutes();
    auto *listener = new QTcpServer(Server.get());
    if (!listener->listen(host, port)) {
        *why = listener->errorString();
        Server.reset();
        return false;
    }
    Server->bind(listener);
    connect(Server.get(), &QHttpServer::newWebSocketConnection, this, &TWebService::TakeWebSockets);
    Today = QDate::currentDate();
    PlatformBase = SwitchBase = 0;
    LoadRecent();
    PushTimer.start();
    return true;
}

void TWebService::Close()
{
    PushTimer.stop();
    for (QWebSocket *socket : std::as_const(Sockets)) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    Sockets.clear();
    Server.reset();
}

quint16 TWebService::Port() const
{
    return Server && !Server->servers().isEmpty() && Server->servers().first()->isListening()
        ? Server->servers().first()->serverPort()
        : 0;
}

bool TWebService::TokenMatches(const QString &given) const
{
    // Compared in full whatever differs first, so the time taken tells nothing of the token.
    const QByteArray a = given.toUtf8();
    const QByteArray b = Token.toUtf8();
    unsigned diff = unsigned(a.size() != b.size());
    for (qsizetype i = 0; i < b.size(); ++i)
        diff |= unsigned(uchar(i < a.size() ? a[i] : 0) ^ uchar(b[i]));
    return diff == 0 && !b.isEmpty();
}

bool TWebService::Admits(const QHttpServerRequest &request) const
{
    if (Loopback)
        return true;
    const QByteArray authorization = request.value(QByteArrayLiteral("Authorization")).trimmed();
    if (authorization.startsWith("Bearer ") && TokenMatches(QString::fromUtf8(authorization.mid(7).trimmed())))
        return true;
    return TokenMatches(request.query().queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded));
}

std::optional<QHttpServerResponse> TWebService::Refusal(const QHttpServerRequest &request) const
{
    if (request.url().toEncoded().size() > MaxUrlBytes)
        return Text("address too long", TStatusCode::UriTooLong);
    if (!Admits(request)) {
        QHttpServerResponse response = Text("a token is needed: Authorization: Bearer <HttpToken>, or ?token=",
                                            TStatusCode::Unauthorized);
        response.setHeader("WWW-Authenticate", "Bearer");
        return response;
    }
    if (request.method() != QHttpServerRequest::Method::Get) {
        QHttpServerResponse response = Text("only GET is served here", TStatusCode::MethodNotAllowed);
        response.setHeader("Allow", "GET");
        return response;
    }
    if (!request.body().isEmpty())
        return Text("a GET carries no body", TStatusCode::BadRequest);
    return std::nullopt;
}

void TWebService::AddRoutes()
{
    // Every method reaches the handlers, which answer 405 to all but GET.
    Server->route("/", [this](const QHttpServerRequest &request) {
        if (auto refused = Refusal(request))
            return std::move(*refused);
        QFile page(QStringLiteral(":/web/status_page.html"));
        page.open(QIODevice::ReadOnly);
        QHttpServerResponse response(QByteArrayLiteral("text/html; charset=utf-8"), page.readAll());
        // Everything the page runs comes with it.
        response.setHeader("Content-Security-Policy",
                           "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; img-src 'self' data:");
        response.setHeader("Cache-Control", "no-store");
        return response;
    });
    Server->route("/api/status", [this](const QHttpServerRequest &request) {
        if (auto refused = Refusal(request))
            return std::move(*refused);
        return QHttpServerResponse(Status.Snapshot().ToJson());
    });
    Server->route("/metrics", [this](const QHttpServerRequest &request) {
        if (auto refused = Refusal(request))
            return std::move(*refused);
        return QHttpServerResponse(TMetricsText::ContentType(), TMetricsText::Make(Status.Snapshot()));
    });
    Server->route("/api/history", [this](const QHttpServerRequest &request) -> QFuture<QHttpServerResponse> {
        if (auto refused = Refusal(request))
            return QtFuture::makeReadyFuture(std::move(*refused));
        const QUrlQuery query = request.query();
        bool ok = true;
        THistoryQuery::TFilter filter;
        filter.From = DateParameter(query, "from", &ok);
        filter.To = DateParameter(query, "to", &ok);
        filter.Text = query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded).trimmed();
        filter.Kind = query.queryItemValue(QStringLiteral("kind"), QUrl::FullyDecoded).trimmed();
        if (!ok)
            return QtFuture::makeReadyFuture(Text("from and to are dates: yyyy-MM-dd", TStatusCode::BadRequest));
        if (!filter.Kind.isEmpty() && !THistoryQuery::Kinds().contains(filter.Kind))
            return QtFuture::makeReadyFuture(Text("kind is one of: " + THistoryQuery::Kinds().join(QLatin1Char(' ')).toUtf8(),
                                                  TStatusCode::BadRequest));
        qint64 before = std::numeric_limits<qint64>::max();
        if (const QString text = query.queryItemValue(QStringLiteral("before")); !text.isEmpty())
            before = text.toLongLong(&ok);
        int limit = RecentEntries;
        if (const QString text = query.queryItemValue(QStringLiteral("limit")); !text.isEmpty() && ok)
            limit = text.toInt(&ok);
        if (!ok || before <= 0 || limit <= 0 || limit > MaxPage)
            return QtFuture::makeReadyFuture(
                Text("before is an entry's id, limit 1 to " + QByteArray::number(MaxPage), TStatusCode::BadRequest));
        return QtConcurrent::run([place = HistoryPlace, filter, before, limit] {
            QString why;
            // One more than asked tells whether another page follows.
            QList<TNotice> entries = ReadPage(place, filter, before, limit + 1, &why);
            if (!why.isEmpty())
                return Text("history cannot be read: " + why.toUtf8(), TStatusCode::ServiceUnavailable);
            const bool more = entries.size() > limit;
            if (more)
                entries.resize(limit);
            QJsonObject page{{"entries", EntriesJson(entries)}};
            page.insert("next_before", more ? QJsonValue(QString::number(entries.last().Id)) : QJsonValue());
            return QHttpServerResponse(page);
        });
    });
    // The live feed: an upgrade is left untouched here for the WebSocket server to take (and
    // TakeWebSockets to admit or close); a plain request is told what this address is.
    Server->route("/events", [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        if (request.value(QByteArrayLiteral("Upgrade")).compare("websocket", Qt::CaseInsensitive) == 0)
            return;
        std::optional<QHttpServerResponse> refused = Refusal(request);
        const QByteArray text = refused ? QByteArray("refused\n") : QByteArray("a WebSocket address\n");
        responder.write(text, {{"Content-Type", "text/plain; charset=utf-8"}},
                        refused ? QHttpServerResponder::StatusCode(int(refused->statusCode()))
                                : QHttpServerResponder::StatusCode::BadRequest);
    });
    Server->setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        if (!Admits(request)) {
            responder.write(QByteArrayLiteral("a token is needed\n"),
                            {{"Content-Type", "text/plain; charset=utf-8"}, {"WWW-Authenticate", "Bearer"}},
                            QHttpServerResponder::StatusCode::Unauthorized);
            return;
        }
        responder.write(QByteArrayLiteral("not found\n"), QByteArrayLiteral("text/plain; charset=utf-8"),
                        QHttpServerResponder::StatusCode::NotFound);
    });
}

void TWebService::TakeWebSockets()
{
    while (Server && Server->hasPendingWebSocketConnections()) {
        QWebSocket *socket = Server->nextPendingWebSocketConnection().release();
        socket->setParent(this);
        const QUrl url = socket->requestUrl();
        const QByteArray authorization = socket->request().rawHeader("Authorization").trimmed();
        const bool admitted = Loopback
            || (authorization.startsWith("Bearer ") && TokenMatches(QString::fromUtf8(authorization.mid(7).trimmed())))
            || TokenMatches(QUrlQuery(url).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded));
        if (url.path() != QLatin1String("/events") || !admitted) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          admitted ? QStringLiteral("not found") : QStringLiteral("token needed"));
            socket->deleteLater();
            continue;
        }
        Sockets.append(socket);
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            Sockets.removeOne(socket);
            socket->deleteLater();
        });
        // Whatever the page sends is ignored: nothing here takes orders.
        socket->sendTextMessage(QString::fromUtf8(QJsonDocument(PageMessage()).toJson(QJsonDocument::Compact)));
    }
}

QJsonObject TWebService::PageMessage()
{
    const TStatusSnapshot s = Status.Snapshot();
    const quint64 platform = RequestsTotal(s);
    const quint64 fromSwitch = s.Switch.Received;
    if (const QDate now = QDate::currentDate(); now != Today) {
        Today = now;
        PlatformBase = platform;
        SwitchBase = fromSwitch;
    }
    QJsonObject message = s.ToJson();
    // Changes every refresh; the page needs it only with a change.
    message.remove(QStringLiteral("time"));
    message.remove(QStringLiteral("loop_lag_ms"));
    message.insert("today", QJsonObject{{"platform_requests", double(platform - PlatformBase)},
                                        {"switch_received", double(fromSwitch - SwitchBase)}});
    message.insert("history", EntriesJson(Recent));
    return message;
}

void TWebService::Push()
{
    if (Sockets.isEmpty())
        return;
    const QByteArray text = QJsonDocument(PageMessage()).toJson(QJsonDocument::Compact);
    if (text == LastPushed)
        return;
    LastPushed = text;
    for (QWebSocket *socket : std::as_const(Sockets))
        socket->sendTextMessage(QString::fromUtf8(text));
}

void TWebService::TakeWritten(const QList<TNotice> &entries)
{
    for (const TNotice &entry : entries) {
        auto same = std::find_if(Recent.begin(), Recent.end(), [&](const TNotice &n) { return n.Id == entry.Id; });
        if (same != Recent.end())
            *same = entry;
        else
            Recent.append(entry);
    }
    std::sort(Recent.begin(), Recent.end(), [](const TNotice &a, const TNotice &b) { return a.Id > b.Id; });
    if (Recent.size() > RecentEntries)
        Recent.resize(RecentEntries);
    if (!Sockets.isEmpty())
        Push();
}

void TWebService::LoadRecent()
{
    if (!HistoryOpen)
        return;
    QPointer<TWebService> self(this);
    auto read = QtConcurrent::run([place = HistoryPlace] {
        QString why;
        return ReadPage(place, THistoryQuery::TFilter(), std::numeric_limits<qint64>::max(), RecentEntries, &why);
    });
    read.then(this, [self](const QList<TNotice> &entries) {
        if (self)
            self->TakeWritten(entries);
    });
}
