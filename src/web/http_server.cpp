#include "web/http_server.h"

#include "web/web_rules.h"
#include "web/web_sockets.h"

#include <QCryptographicHash>

#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>

namespace {

int Send(MHD_Connection *connection, const TWebAnswer &answer)
{
    MHD_Response *response = MHD_create_response_from_buffer(size_t(answer.Body.size()), const_cast<char *>(answer.Body.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.Type.constData());
    for (const auto &[name, value] : answer.Headers)
        MHD_add_response_header(response, name.constData(), value.constData());
    // A refused request ends its connection: a client that asked wrongly gets no second try on
    // it, and a refused live feed's client learns at once that none follows.
    if (answer.Status >= 400 && answer.Status != MHD_HTTP_NOT_FOUND)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result queued = MHD_queue_response(connection, unsigned(answer.Status), response);
    MHD_destroy_response(response);
    return queued;
}

TWebAnswer Text(int status, const QByteArray &text, QList<QPair<QByteArray, QByteArray>> headers = {})
{
    TWebAnswer answer;
    answer.Status = status;
    answer.Body = text + '\n';
    answer.Headers = std::move(headers);
    return answer;
}

QByteArray Header(MHD_Connection *connection, const char *name)
{
    return QByteArray(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name));
}

QByteArray ClientOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return info && info->client_addr ? QHostAddress(info->client_addr).toString().toLatin1() : QByteArray("?");
}

struct TArguments
{
    QUrlQuery Query;
    qsizetype Bytes = 0;
};

MHD_Result Argument(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    auto *arguments = static_cast<TArguments *>(cls);
    const QString k = QString::fromUtf8(key);
    const QString v = value ? QString::fromUtf8(value) : QString();
    arguments->Bytes += qsizetype(qstrlen(key)) + (value ? qsizetype(qstrlen(value)) : 0) + 2;
    // Kept encoded as a query would be, so FullyDecoded gives the value back as sent.
    arguments->Query.addQueryItem(QString::fromUtf8(QUrl::toPercentEncoding(k)), QString::fromUtf8(QUrl::toPercentEncoding(v)));
    return MHD_YES;
}

void Upgraded(void *cls, MHD_Connection *connection, void *, const char *extraIn, size_t extraSize, MHD_socket sock,
              MHD_UpgradeResponseHandle *handle)
{
    static_cast<THttpServer *>(cls)->Handover(connection, QByteArray(extraIn, qsizetype(extraSize)), sock, handle);
}

MHD_Result Access(void *self, MHD_Connection *connection, const char *url, const char *method, const char *, const char *,
                  size_t *uploadSize, void **state)
{
    static int seen = 0;
    auto *server = static_cast<THttpServer *>(self);
    if (*state == &seen) {
        // A body is never taken: what came is dropped (a GET that carries one was refused).
        if (*uploadSize != 0) {
            *uploadSize = 0;
            return MHD_YES;
        }
        return MHD_Result(server->Answer(connection, QByteArray(url), QByteArray(method)));
    }
    *state = &seen;
    server->Busy(connection, true);
    // A GET without a body is answered once its head is whole, so the connection may serve
    // the next one; anything else at once, and the connection then ends.
    const QByteArray length = QByteArray(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH)).trimmed();
    const bool body = (!length.isEmpty() && length != "0")
        || MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
    if (qstrcmp(method, MHD_HTTP_METHOD_GET) == 0 && !body)
        return MHD_YES;
    return MHD_Result(server->Answer(connection, QByteArray(url), QByteArray(method)));
}

void Notified(void *self, MHD_Connection *connection, void **context, MHD_ConnectionNotificationCode code)
{
    auto *server = static_cast<THttpServer *>(self);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        server->Opened(connection, info ? int(info->connect_fd) : -1, context);
    } else {
        server->Closed(*context);
        *context = nullptr;
    }
}

void Completed(void *self, MHD_Connection *connection, void **, MHD_RequestTerminationCode)
{
    static_cast<THttpServer *>(self)->Done(connection);
}

} // namespace

struct THttpServer::TConnection
{
    int Fd = -1;
    sockaddr_storage Peer{};
    std::chrono::steady_clock::time_point Deadline;
    bool InRequest = false;
    bool Upgraded = false;
    bool Cut = false;
    QByteArray Reserved; // the client a live feed's place was reserved for
    bool Adopted = false; // and the feeds took it over (and give the place back)
};

THttpServer::TConnection *THttpServer::ContextOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<TConnection *>(info->socket_context) : nullptr;
}

void THttpServer::Handover(MHD_Connection *connection, const QByteArray &extra, int fd, MHD_UpgradeResponseHandle *handle)
{
    const QByteArray client = ClientOf(connection);
    if (TConnection *c = ContextOf(connection)) {
        std::lock_guard lock(Guard);
        c->Adopted = true;
    }
    TWebSockets *sockets = &Sockets;
    const TFirst first = First;
    // The feeds live on their own thread; this one only hands the connection over.
    QMetaObject::invokeMethod(sockets, [sockets, first, fd, handle, extra, client] {
        sockets->Adopt(fd, handle, extra, client, first());
    }, Qt::QueuedConnection);
}

void THttpServer::Opened(MHD_Connection *, int fd, void **context)
{
    auto *c = new TConnection;
    c->Fd = fd;
    socklen_t length = sizeof c->Peer;
    getpeername(fd, reinterpret_cast<sockaddr *>(&c->Peer), &length);
    c->Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Options.HeadSeconds);
    std::lock_guard lock(Guard);
    Connections.insert(c);
    *context = c;
}

void THttpServer::Closed(void *context)
{
    auto *c = static_cast<TConnection *>(context);
    if (!c)
        return;
    std::lock_guard lock(Guard);
    // A feed's place reserved for an upgrade that never happened (the client went first).
    if (!c->Reserved.isEmpty() && !c->Adopted)
        Sockets.Release(c->Reserved);
    Connections.erase(c);
    delete c;
}

void THttpServer::Busy(MHD_Connection *connection, bool busy, bool upgraded)
{
    TConnection *c = ContextOf(connection);
    if (!c)
        return;
    std::lock_guard lock(Guard);
    c->InRequest = busy;
    c->Upgraded = c->Upgraded || upgraded;
}

void THttpServer::Done(MHD_Connection *connection)
{
    TConnection *c = ContextOf(connection);
    if (!c)
        return;
    std::lock_guard lock(Guard);
    c->InRequest = false;
    c->Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Options.HeadSeconds);
}

void THttpServer::Watch()
{
    std::unique_lock lock(Guard);
    while (!Stop.wait_for(lock, std::chrono::seconds(1), [this] { return Stopping; })) {
        const auto now = std::chrono::steady_clock::now();
        for (TConnection *c : Connections) {
            if (c->InRequest || c->Upgraded || c->Cut || now < c->Deadline || c->Fd < 0)
                continue;
            // The same peer still: a descriptor closed and taken again is not someone else's cut.
            sockaddr_storage peer{};
            socklen_t length = sizeof peer;
            if (getpeername(c->Fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0 || memcmp(&peer, &c->Peer, length) != 0)
                continue;
            shutdown(c->Fd, SHUT_RDWR);
            c->Cut = true;
        }
    }
}

THttpServer::THttpServer(TContent content, TWebSockets &sockets, TFirst first)
    : Content(std::move(content)), Sockets(sockets), First(std::move(first))
{
}

THttpServer::~THttpServer()
{
    Close();
}

bool THttpServer::Listen(const TOptions &options, QString *why)
{
    Close();
    Options = options;
    sockaddr_storage address{};
    socklen_t length = 0;
    // No error log: every malformed request would be a line, and anyone may send them.
    unsigned flags = MHD_USE_AUTO | MHD_USE_INTERNAL_POLLING_THREAD | MHD_ALLOW_UPGRADE;
    if (options.Host.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(options.Port);
        const Q_IPV6ADDR bytes = options.Host.toIPv6Address();
        memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
        length = sizeof *in6;
        flags |= MHD_USE_IPv6;
    } else {
        auto *in = reinterpret_cast<sockaddr_in *>(&address);
        in->sin_family = AF_INET;
        in->sin_port = htons(options.Port);
        in->sin_addr.s_addr = htonl(options.Host.toIPv4Address());
        length = sizeof *in;
    }
    Q_UNUSED(length)
    BoundPort.store(options.Port);
    Daemon = MHD_start_daemon(flags, options.Port, nullptr, nullptr,
                              &Access, this,
                              MHD_OPTION_SOCK_ADDR, &address,
                              MHD_OPTION_CONNECTION_LIMIT, options.Connections,
                              MHD_OPTION_PER_IP_CONNECTION_LIMIT, options.PerClient,
                              MHD_OPTION_CONNECTION_MEMORY_LIMIT, options.HeadBytes,
                              MHD_OPTION_CONNECTION_TIMEOUT, options.IdleSeconds,
                              MHD_OPTION_THREAD_POOL_SIZE, options.Threads,
                              MHD_OPTION_NOTIFY_CONNECTION, &Notified, this,
                              MHD_OPTION_NOTIFY_COMPLETED, &Completed, this,
                              MHD_OPTION_END);
    if (!Daemon) {
        BoundPort.store(0);
        *why = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(Daemon, MHD_DAEMON_INFO_BIND_PORT);
    BoundPort.store(info ? info->port : options.Port);
    Stopping = false;
    Watcher = std::thread([this] { Watch(); });
    return true;
}

void THttpServer::Close()
{
    if (!Daemon)
        return;
    // Upgraded connections are the feeds' to close, before the server stops.
    Sockets.CloseAll();
    {
        std::lock_guard lock(Guard);
        Stopping = true;
    }
    Stop.notify_all();
    if (Watcher.joinable())
        Watcher.join();
    MHD_stop_daemon(Daemon);
    Daemon = nullptr;
    BoundPort = 0;
}

int THttpServer::Answer(MHD_Connection *connection, const QByteArray &url, const QByteArray &method)
{
    if (MHD_get_connection_values(connection, MHD_HEADER_KIND, nullptr, nullptr) > Options.Headers)
        return Send(connection, Text(MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "too many header lines"));
    const QByteArray host = Header(connection, MHD_HTTP_HEADER_HOST);
    if (host.isEmpty())
        return Send(connection, Text(MHD_HTTP_BAD_REQUEST, "Host is needed"));
    if (!TWebRules::HostAllowed(host, Options.Host, BoundPort.load(), Options.Names))
        return Send(connection, Text(MHD_HTTP_MISDIRECTED_REQUEST, "this server does not serve that Host"));
    TArguments arguments;
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &Argument, &arguments);
    if (url.size() + arguments.Bytes > Options.UrlBytes)
        return Send(connection, Text(MHD_HTTP_URI_TOO_LONG, "address too long"));
    if (!Options.Host.isLoopback()) {
        const QByteArray authorization = Header(connection, MHD_HTTP_HEADER_AUTHORIZATION).trimmed();
        const bool admitted = (authorization.startsWith("Bearer ") && TWebRules::TokenMatches(authorization.mid(7).trimmed(), Options.Token))
            || TWebRules::TokenMatches(arguments.Query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toUtf8(), Options.Token);
        if (!admitted)
            return Send(connection, Text(MHD_HTTP_UNAUTHORIZED, "a token is needed: Authorization: Bearer <HttpToken>, or ?token=",
                                         {{"WWW-Authenticate", "Bearer"}}));
    }
    // Method names are case-sensitive: "get" is not GET.
    if (method != MHD_HTTP_METHOD_GET)
        return Send(connection, Text(MHD_HTTP_METHOD_NOT_ALLOWED, "only GET is served here", {{"Allow", "GET"}}));
    const QByteArray length = Header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH).trimmed();
    if ((!length.isEmpty() && length != "0") || !Header(connection, MHD_HTTP_HEADER_TRANSFER_ENCODING).isEmpty())
        return Send(connection, Text(MHD_HTTP_BAD_REQUEST, "a GET carries no body"));
    if (url == "/events")
        return Upgrade(connection, host, ClientOf(connection));
    return Send(connection, Content(url, arguments.Query));
}

int THttpServer::Upgrade(MHD_Connection *connection, const QByteArray &host, const QByteArray &client)
{
    const QByteArray key = Header(connection, "Sec-WebSocket-Key").trimmed();
    if (Header(connection, MHD_HTTP_HEADER_UPGRADE).trimmed().compare("websocket", Qt::CaseInsensitive) != 0 || key.isEmpty()
        || Header(connection, "Sec-WebSocket-Version").trimmed() != "13")
        return Send(connection, Text(MHD_HTTP_BAD_REQUEST, "a WebSocket address"));
    // A page of another site must not read this one's feed with the browser's credentials.
    if (!TWebRules::OriginAllowed(Header(connection, MHD_HTTP_HEADER_ORIGIN).trimmed(), host))
        return Send(connection, Text(MHD_HTTP_FORBIDDEN, "the live feed is only for this server's own page"));
    if (!Sockets.Reserve(client))
        return Send(connection, Text(MHD_HTTP_TOO_MANY_REQUESTS, "too many live feeds"));
    Busy(connection, true, true);
    TConnection *c = ContextOf(connection);
    MHD_Response *response = c ? MHD_create_response_for_upgrade(&Upgraded, this) : nullptr;
    if (!response) {
        Sockets.Release(client);
        return MHD_NO;
    }
    {
        // Given back when the connection closes, unless the feeds took it over by then.
        std::lock_guard lock(Guard);
        c->Reserved = client;
    }
    const QByteArray accept = QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1).toBase64();
    MHD_add_response_header(response, MHD_HTTP_HEADER_UPGRADE, "websocket");
    MHD_add_response_header(response, "Sec-WebSocket-Accept", accept.constData());
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_SWITCHING_PROTOCOLS, response);
    MHD_destroy_response(response);
    return queued;
}
