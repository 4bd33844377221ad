#include "web/web_server.h"

#include "common/line_log.h"
#include "history/history.h"
#include "web/web_service.h"

#include <QHostAddress>
#include <QUrl>

TWebServer::TWebServer(TStatusPublisher &status, THistory &history, QObject *parent)
    : QObject(parent), Status(status), History(history)
{
    Thread.setObjectName(QStringLiteral("web"));
}

TWebServer::~TWebServer()
{
    Close();
}

bool TWebServer::ParseAddress(const QString &text, QHostAddress *host, quint16 *port, QString *why)
{
    const QUrl url(QStringLiteral("http://") + text.trimmed());
    const int number = url.port(-1);
    if (!url.isValid() || url.host().isEmpty() || number < 0 || !url.path().isEmpty() || url.hasQuery()
        || !url.userInfo().isEmpty()) {
        *why = QStringLiteral("\"%1\" 不是 地址:端口（例如 127.0.0.1:8089）").arg(text);
        return false;
    }
    const QHostAddress address(url.host());
    if (address.isNull()) {
        *why = QStringLiteral("\"%1\" 中的 %2 不是 IP 地址").arg(text, url.host());
        return false;
    }
    *host = address;
    *port = quint16(number);
    return true;
}

bool TWebServer::Listen(const QString &address, const QString &token, QString *why)
{
    Close();
    QHostAddress host;
    quint16 port = 0;
    if (!ParseAddress(address, &host, &port, why))
        return false;
    if (!host.isLoopback() && token.isEmpty()) {
        *why = QStringLiteral("网页接口 %1 不在本机回环地址上，但没有设置 HttpToken：不提供网页接口").arg(address);
        return false;
    }
    Service = new TWebService(Status, History.Where(), History.IsOpen());
    Service->moveToThread(&Thread);
    // Deleted on its own thread as that thread ends, with whatever it still holds.
    connect(&Thread, &QThread::finished, Service, &QObject::deleteLater);
    // Queued: the entries are copied to the web thread, the history never waits for it.
    connect(&History, &THistory::Written, Service, &TWebService::TakeWritten);
    Thread.start();
    // The only time the main thread waits for the web thread: to learn whether the address
    // could be taken, which is done before anyone can ask anything of it.
    bool listening = false;
    QString failure;
    quint16 taken = 0;
    QMetaObject::invokeMethod(
        Service,
        [&] {
            listening = Service->Listen(host, port, token, &failure);
            taken = Service->Port();
        },
        Qt::BlockingQueuedConnection);
    if (!listening) {
        *why = QStringLiteral("网页接口 %1 无法打开: %2").arg(address, failure);
        Close();
        return false;
    }
    ServingPort = taken;
    return true;
}

bool TWebServer::Serve(const QString &address, const QString &token, TLineLog &memo)
{
    if (address.trimmed().isEmpty())
        return false;
    QString why;
    if (Listen(address, token, &why))
        return true;
    // The links do not need it: the program runs on without its web face.
    memo.Add({why, TLogLevel::Warning});
    return false;
}

void TWebServer::Close()
{
    ServingPort = 0;
    if (!Service)
        return;
    disconnect(&History, nullptr, Service, nullptr);
    QMetaObject::invokeMethod(Service, [service = Service] { service->Close(); }, Qt::BlockingQueuedConnection);
    Thread.quit();
    Thread.wait();
    Service = nullptr;
}

bool TWebServer::IsListening() const
{
    return ServingPort != 0;
}

quint16 TWebServer::Port() const
{
    return ServingPort;
}
