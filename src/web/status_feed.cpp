#include "web/status_feed.h"

#include <QJsonDocument>

TStatusFeed::TStatusFeed(const QString &path, QObject *parent) : QObject(parent), SocketPath(path)
{
    Retry.setSingleShot(true);
    Retry.setInterval(RetryMs);
    connect(&Retry, &QTimer::timeout, this, &TStatusFeed::Ask);
    Silence.setSingleShot(true);
    Silence.setInterval(SilenceMs);
    connect(&Silence, &QTimer::timeout, this, [this] { Drop(QStringLiteral("no status for %1 ms").arg(SilenceMs)); });
}

void TStatusFeed::Start()
{
    Ask();
}

void TStatusFeed::Ask()
{
    if (Socket)
        Socket->deleteLater();
    Socket = new QLocalSocket(this);
    // Bounded: a line longer than this is not a snapshot.
    Socket->setReadBufferSize(MostLine + 1);
    connect(Socket, &QLocalSocket::connected, this, [this] {
        Socket->write(QJsonDocument(QJsonObject{{"command", "watch"}}).toJson(QJsonDocument::Compact) + '\n');
        Silence.start();
    });
    connect(Socket, &QLocalSocket::readyRead, this, &TStatusFeed::Read);
    connect(Socket, &QLocalSocket::errorOccurred, this, [this] { Drop(Socket->errorString()); });
    connect(Socket, &QLocalSocket::disconnected, this, [this] { Drop(QStringLiteral("the program closed the stream")); });
    Socket->connectToServer(SocketPath);
}

void TStatusFeed::Read()
{
    while (Socket && Socket->canReadLine()) {
        const QJsonObject reply = QJsonDocument::fromJson(Socket->readLine(MostLine).trimmed()).object();
        if (!reply.value(QStringLiteral("ok")).toBool()) {
            Drop(QStringLiteral("the program refused: ") + reply.value(QStringLiteral("message")).toString());
            return;
        }
        Watching = true;
        Told = false;
        Silence.start();
        Q_EMIT Snapshot(reply.value(QStringLiteral("status")).toObject());
    }
    if (Socket && Socket->bytesAvailable() > MostLine)
        Drop(QStringLiteral("a line longer than %1 bytes").arg(MostLine));
}

void TStatusFeed::Drop(const QString &why)
{
    if (!Socket)
        return;
    QLocalSocket *socket = std::exchange(Socket, nullptr);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    Silence.stop();
    Watching = false;
    if (!Told) {
        Told = true;
        Q_EMIT Lost(why);
    }
    Retry.start();
}
