#include "web/web_face.h"

#include "history/history_query.h"
#include "status/status_snapshot.h"
#include "web/metrics_text.h"
#include "web/web_rules.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <limits>

namespace {

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
        out.insert("channel", n.Channel >= 0 ? QJsonValue(n.Channel) : QJsonValue());
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

// One page of the history, on a connection of its own (read-only on the files).
QList<TNotice> ReadPage(const TStorePlace &place, const THistoryQuery::TFilter &filter, qint64 before, int limit, QString *why)
{
    static std::atomic<int> serial{0};
    THistoryQuery query(place, QStringLiteral("web-%1").arg(serial.fetch_add(1)));
    if (!query.Open(why))
        return {};
    QList<TNotice> entries = query.Page(filter, before, limit, why);
    // Each number as 详情 shows it: its name, key position and when its keys left.
    query.AddNumbers(entries);
    return entries;
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

quint64 Count(const QJsonValue &value)
{
    return quint64(std::max(0.0, value.toDouble()));
}

quint64 RequestsTotal(const QJsonObject &status)
{
    quint64 total = 0;
    const QJsonObject requests = status.value(QStringLiteral("requests")).toObject();
    for (auto it = requests.begin(); it != requests.end(); ++it)
        total += Count(it.value());
    return total;
}

TWebAnswer Json(const QJsonObject &object, int status = 200)
{
    TWebAnswer answer;
    answer.Status = status;
    answer.Type = QByteArrayLiteral("application/json");
    answer.Body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return answer;
}

TWebAnswer Plain(int status, const QByteArray &text)
{
    TWebAnswer answer;
    answer.Status = status;
    answer.Body = text + '\n';
    return answer;
}

const QString NotRunning = QStringLiteral("主程序未运行");

} // namespace

TWebFace::TWebFace(const QString &control, const TStorePlace &history, bool historyReadable, QObject *parent)
    : QObject(parent), HistoryPlace(history), HistoryReadable(historyReadable), Feed(control)
{
    connect(&Feed, &TStatusFeed::Snapshot, this, &TWebFace::Take);
    connect(&Feed, &TStatusFeed::Lost, this, &TWebFace::Lose);
}

TWebFace::~TWebFace()
{
    Close();
}

bool TWebFace::Listen(const QString &address, const QString &token, const QStringList &names, QString *why)
{
    THttpServer::TOptions options;
    if (!TWebRules::ParseAddress(address, &options.Host, &options.Port, why))
        return false;
    if (!options.Host.isLoopback() && token.isEmpty()) {
        *why = QStringLiteral("网页接口 %1 不在本机回环地址上，但没有设置 HttpToken：不提供网页接口").arg(address);
        return false;
    }
    options.Token = token.toUtf8();
    for (const QString &name : names)
        if (!name.trimmed().isEmpty())
            options.Names << name.trimmed().toLower();
    if (!Listen(options, why)) {
        *why = QStringLiteral("网页接口 %1 无法打开: %2").arg(address, *why);
        return false;
    }
    return true;
}

bool TWebFace::Listen(const THttpServer::TOptions &options, QString *why)
{
    Close();
    Http = std::make_unique<THttpServer>([this](const QByteArray &path, const QUrlQuery &query) { return Get(path, query); },
                                         Sockets, [this] { return PageText(); });
    if (!Http->Listen(options, why)) {
        Http.reset();
        return false;
    }
    Today = QDate::currentDate();
    PlatformBase = SwitchBase = 0;
    ReadRecent();
    Feed.Start();
    return true;
}

void TWebFace::Close()
{
    Http.reset();
}

void TWebFace::Take(const QJsonObject &status)
{
    bool came = false;
    {
        QMutexLocker lock(&Guard);
        came = !Running;
        Running = true;
        Status = status;
    }
    if (came)
        Q_EMIT Said(QStringLiteral("主程序在 %1 应答").arg(Feed.Path()));
    const quint64 written = Count(status.value(QStringLiteral("store")).toObject().value(QStringLiteral("history_written")));
    if (came || written != WrittenSeen) {
        WrittenSeen = written;
        ReadRecent();
    }
    Push();
}

void TWebFace::Lose(const QString &why)
{
    bool went = false;
    {
        QMutexLocker lock(&Guard);
        went = Running;
        Running = false;
        Status = QJsonObject();
    }
    Q_EMIT Said(went ? QStringLiteral("主程序不再应答 (%1): %2；状态未知，网页照常提供").arg(Feed.Path(), why)
                     : QStringLiteral("%1：%2 (%3)；状态未知，网页照常提供，每秒重连").arg(NotRunning, Feed.Path(), why));
    Push();
}

void TWebFace::ReadRecent()
{
    if (!HistoryReadable)
        return;
    // One read at a time; a change meanwhile reads once more after it.
    if (Reading) {
        ReadAgain = true;
        return;
    }
    Reading = true;
    QPointer<TWebFace> self(this);
    QtConcurrent::run([place = HistoryPlace] {
        QString why;
        return ReadPage(place, THistoryQuery::TFilter(), std::numeric_limits<qint64>::max(), RecentEntries, &why);
    }).then(this, [self](const QList<TNotice> &entries) {
        if (!self)
            return;
        self->Reading = false;
        self->Recent = entries;
        self->Push();
        if (std::exchange(self->ReadAgain, false))
            self->ReadRecent();
    });
}

QJsonObject TWebFace::PageMessage()
{
    QJsonObject status;
    bool running = false;
    {
        QMutexLocker lock(&Guard);
        status = Status;
        running = Running;
    }
    if (!running)
        return {{"running", false}, {"message", NotRunning}, {"history", EntriesJson(Recent)}};
    const quint64 platform = RequestsTotal(status);
    const quint64 fromSwitch = Count(status.value(QStringLiteral("switch_link")).toObject().value(QStringLiteral("received")));
    // A new day, or a program started anew (its counts begin at 0 again).
    if (const QDate now = QDate::currentDate(); now != Today || platform < PlatformBase || fromSwitch < SwitchBase) {
        PlatformBase = now != Today ? platform : 0;
        SwitchBase = now != Today ? fromSwitch : 0;
        Today = now;
    }
    QJsonObject message = status;
    // Changes every refresh; the page needs it only with a change.
    message.remove(QStringLiteral("time"));
    message.remove(QStringLiteral("loop_lag_ms"));
    message.insert("running", true);
    message.insert("today", QJsonObject{{"platform_requests", double(platform - PlatformBase)},
                                        {"switch_received", double(fromSwitch - SwitchBase)}});
    message.insert("history", EntriesJson(Recent));
    return message;
}

QByteArray TWebFace::PageText()
{
    return QJsonDocument(PageMessage()).toJson(QJsonDocument::Compact);
}

void TWebFace::Push()
{
    if (Sockets.Count() == 0)
        return;
    const QByteArray text = PageText();
    if (text == LastPushed)
        return;
    LastPushed = text;
    Sockets.Send(text);
}

TWebAnswer TWebFace::Get(const QByteArray &path, const QUrlQuery &query)
{
    if (path == "/") {
        QFile page(QStringLiteral(":/web/status_page.html"));
        page.open(QIODevice::ReadOnly);
        TWebAnswer answer;
        answer.Type = QByteArrayLiteral("text/html; charset=utf-8");
        answer.Body = page.readAll();
        // Everything the page runs comes with it.
        answer.Headers = {{"Content-Security-Policy",
                           "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; img-src 'self' data:"},
                          {"Cache-Control", "no-store"}};
        return answer;
    }
    // The tab's icon; a browser asks /favicon.ico of any page, and takes the SVG there too.
    if (path == "/favicon.svg" || path == "/favicon.ico") {
        QFile icon(QStringLiteral(":/web/varnex.svg"));
        icon.open(QIODevice::ReadOnly);
        TWebAnswer answer;
        answer.Type = QByteArrayLiteral("image/svg+xml");
        answer.Body = icon.readAll();
        answer.Headers = {{"Cache-Control", "max-age=86400"}};
        return answer;
    }
    if (path == "/api/history")
        return History(query);
    QJsonObject status;
    bool running = false;
    {
        QMutexLocker lock(&Guard);
        status = Status;
        running = Running;
    }
    if (path == "/api/status")
        return running ? Json(status) : Json({{"running", false}, {"message", NotRunning}}, 503);
    if (path == "/metrics") {
        TWebAnswer answer;
        answer.Type = TMetricsText::ContentType();
        // The scrape itself succeeds; whether the program answers is a metric of its own.
        answer.Body = "# HELP varnex_main_up 1 while the web process hears the running program, else 0.\n"
                      "# TYPE varnex_main_up gauge\n"
                      "varnex_main_up " + QByteArray(running ? "1" : "0") + '\n';
        if (running)
            answer.Body += TMetricsText::Make(TStatusSnapshot::FromJson(status));
        return answer;
    }
    return Plain(404, "not found");
}

TWebAnswer TWebFace::History(const QUrlQuery &query) const
{
    bool ok = true;
    THistoryQuery::TFilter filter;
    filter.From = DateParameter(query, "from", &ok);
    filter.To = DateParameter(query, "to", &ok);
    filter.Text = query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded).trimmed();
    filter.Kind = query.queryItemValue(QStringLiteral("kind"), QUrl::FullyDecoded).trimmed();
    if (!ok)
        return Plain(400, "from and to are dates: yyyy-MM-dd");
    if (!filter.Kind.isEmpty() && !THistoryQuery::Kinds().contains(filter.Kind))
        return Plain(400, "kind is one of: " + THistoryQuery::Kinds().join(QLatin1Char(' ')).toUtf8());
    qint64 before = std::numeric_limits<qint64>::max();
    if (const QString text = query.queryItemValue(QStringLiteral("before")); !text.isEmpty())
        before = text.toLongLong(&ok);
    int limit = RecentEntries;
    if (const QString text = query.queryItemValue(QStringLiteral("limit")); !text.isEmpty() && ok)
        limit = text.toInt(&ok);
    if (!ok || before <= 0 || limit <= 0 || limit > MaxPage)
        return Plain(400, "before is an entry's id, limit 1 to " + QByteArray::number(MaxPage));
    if (!HistoryReadable)
        return Plain(503, "history cannot be read: there is none here");
    QString why;
    // One more than asked tells whether another page follows.
    QList<TNotice> entries = ReadPage(HistoryPlace, filter, before, limit + 1, &why);
    if (!why.isEmpty())
        return Plain(503, "history cannot be read: " + why.toUtf8());
    const bool more = entries.size() > limit;
    if (more)
        entries.resize(limit);
    QJsonObject page{{"entries", EntriesJson(entries)}};
    page.insert("next_before", more ? QJsonValue(QString::number(entries.last().Id)) : QJsonValue());
    return Json(page);
}
