#include "web/web_sockets.h"

#include <QSocketNotifier>
#include <QtEndian>

#include <microhttpd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

struct TWebSockets::TPeer
{
    int Fd = -1;
    MHD_UpgradeResponseHandle *Handle = nullptr;
    QByteArray Client;
    QByteArray In;
    QByteArray Out;
    std::unique_ptr<QSocketNotifier> Read;
    std::unique_ptr<QSocketNotifier> Write;
    bool Closing = false; // a close frame is queued: nothing more goes out
    bool Answered = true; // the last ping was
};

TWebSockets::TWebSockets(QObject *parent) : QObject(parent)
{
    Pings.setInterval(PingMs);
    connect(&Pings, &QTimer::timeout, this, &TWebSockets::Ping);
    Pings.start();
}

void TWebSockets::Ping()
{
    std::vector<TPeer *> gone;
    for (const auto &peer : Peers) {
        if (peer->Closing)
            continue;
        if (!peer->Answered || !Queue(peer.get(), Frame(0x9, QByteArray())))
            gone.push_back(peer.get());
        peer->Answered = false;
    }
    for (TPeer *peer : gone)
        Finish(peer);
}

TWebSockets::~TWebSockets()
{
    CloseAll();
}

bool TWebSockets::Reserve(const QByteArray &client)
{
    QMutexLocker lock(&Guard);
    int &mine = PerAddress[client];
    if (Reserved >= Most || mine >= PerClient) {
        if (mine == 0)
            PerAddress.remove(client);
        return false;
    }
    ++mine;
    ++Reserved;
    return true;
}

void TWebSockets::Release(const QByteArray &client)
{
    QMutexLocker lock(&Guard);
    auto it = PerAddress.find(client);
    if (it == PerAddress.end())
        return;
    if (--it.value() <= 0)
        PerAddress.erase(it);
    --Reserved;
}

QByteArray TWebSockets::Frame(int opcode, const QByteArray &payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + 10);
    frame += char(0x80 | opcode);
    const quint64 size = quint64(payload.size());
    if (size < 126) {
        frame += char(size);
    } else if (size <= 0xffff) {
        frame += char(126);
        frame += char(size >> 8);
        frame += char(size & 0xff);
    } else {
        frame += char(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += char((size >> shift) & 0xff);
    }
    return frame + payload;
}

void TWebSockets::Adopt(int fd, MHD_UpgradeResponseHandle *handle, const QByteArray &extra, const QByteArray &client,
                        const QByteArray &first)
{
    auto owned = std::make_unique<TPeer>();
    TPeer *peer = owned.get();
    peer->Fd = fd;
    peer->Handle = handle;
    peer->Client = client;
    peer->In = extra;
    peer->Read = std::make_unique<QSocketNotifier>(qintptr(fd), QSocketNotifier::Read);
    peer->Write = std::make_unique<QSocketNotifier>(qintptr(fd), QSocketNotifier::Write);
    peer->Write->setEnabled(false);
    connect(peer->Read.get(), &QSocketNotifier::activated, this, [this, peer] { Readable(peer); });
    connect(peer->Write.get(), &QSocketNotifier::activated, this, [this, peer] { Writable(peer); });
    Peers.push_back(std::move(owned));
    if (!Queue(peer, Frame(0x1, first)) || !TakeFrames(peer))
        Finish(peer);
}

void TWebSockets::Send(const QByteArray &text)
{
    const QByteArray frame = Frame(0x1, text);
    std::vector<TPeer *> dropped;
    for (const auto &peer : Peers)
        if (!peer->Closing && !Queue(peer.get(), frame))
            dropped.push_back(peer.get());
    for (TPeer *peer : dropped)
        Finish(peer);
}

void TWebSockets::CloseAll()
{
    while (!Peers.empty())
        Finish(Peers.back().get());
}

bool TWebSockets::Queue(TPeer *peer, const QByteArray &bytes)
{
    if (peer->Out.size() + bytes.size() > MostQueued)
        return false;
    peer->Out += bytes;
    return Flush(peer);
}

bool TWebSockets::Flush(TPeer *peer)
{
    while (!peer->Out.isEmpty()) {
        const ssize_t sent = ::send(peer->Fd, peer->Out.constData(), size_t(peer->Out.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            return false;
        }
        peer->Out.remove(0, sent);
    }
    peer->Write->setEnabled(!peer->Out.isEmpty());
    // Once the close frame is out, the connection is done.
    return !(peer->Closing && peer->Out.isEmpty());
}

void TWebSockets::Writable(TPeer *peer)
{
    if (!Flush(peer))
        Finish(peer);
}

void TWebSockets::Readable(TPeer *peer)
{
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(peer->Fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            peer->In.append(buffer, got);
            if (peer->In.size() > MostFrame + 14)
                break;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        Finish(peer); // closed or failed
        return;
    }
    if (!TakeFrames(peer))
        Finish(peer);
}

bool TWebSockets::TakeFrames(TPeer *peer)
{
    const auto close = [this, peer](quint16 code) {
        if (peer->Closing)
            return false;
        QByteArray payload(2, 0);
        qToBigEndian(code, payload.data());
        const bool queued = Queue(peer, Frame(0x8, payload));
        peer->Closing = true;
        // Sent at once or dropped: either way nothing more is read.
        return queued && !peer->Out.isEmpty();
    };
    while (peer->In.size() >= 2 && !peer->Closing) {
        const uchar b0 = uchar(peer->In[0]);
        const uchar b1 = uchar(peer->In[1]);
        if (!(b1 & 0x80))
            return close(1002); // a client's frames are masked
        quint64 size = b1 & 0x7f;
        qsizetype header = 2;
        if (size == 126) {
            if (peer->In.size() < 4)
                return true;
            size = qFromBigEndian<quint16>(peer->In.constData() + 2);
            header = 4;
        } else if (size == 127) {
            if (peer->In.size() < 10)
                return true;
            size = qFromBigEndian<quint64>(peer->In.constData() + 2);
            header = 10;
        }
        if (size > quint64(MostFrame))
            return close(1009);
        const qsizetype whole = header + 4 + qsizetype(size);
        if (peer->In.size() < whole)
            return true;
        QByteArray payload = peer->In.mid(header + 4, qsizetype(size));
        for (qsizetype i = 0; i < payload.size(); ++i)
            payload[i] = char(payload[i] ^ peer->In[header + (i % 4)]);
        peer->In.remove(0, whole);
        const int opcode = b0 & 0x0f;
        if (opcode >= 0x8 && (!(b0 & 0x80) || size > 125))
            return close(1002); // control frames come whole and short
        if (opcode == 0x8) {
            // Answered with the code it gave, and the connection ends once that is out.
            const quint16 code = payload.size() >= 2 ? qFromBigEndian<quint16>(payload.constData()) : quint16(1000);
            return close(code);
        }
        if (opcode == 0x9 && !Queue(peer, Frame(0xA, payload)))
            return false;
        if (opcode == 0xA)
            peer->Answered = true;
        // Text, binary, continuation and pong: nothing here takes orders.
    }
    return !peer->Closing || !peer->Out.isEmpty();
}

void TWebSockets::Finish(TPeer *peer)
{
    const auto it = std::find_if(Peers.begin(), Peers.end(), [peer](const auto &p) { return p.get() == peer; });
    if (it == Peers.end())
        return;
    std::unique_ptr<TPeer> owned = std::move(*it);
    Peers.erase(it);
    // Possibly inside one of their own signals: gone once it returns.
    for (QSocketNotifier *notifier : {owned->Read.release(), owned->Write.release()}) {
        notifier->setEnabled(false);
        notifier->disconnect(this);
        notifier->deleteLater();
    }
    // The server closes the socket; it is still counted there until then.
    MHD_upgrade_action(owned->Handle, MHD_UPGRADE_ACTION_CLOSE);
    Release(owned->Client);
}
