// The platform link while the directory window writes: a 60,000-row 初始化 runs on the program's
// thread (as from its window, events served from its progress), while group-list requests go
// one at a time over loopback; the reply times during the run beside those with the program idle.
#include "app/varnex_core.h"
#include "directory/tel_book.h"
#include "platform_link/ldtx_frame.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>

namespace {

struct TSampler
{
    QUdpSocket Peer;
    quint16 Port = 0;
    QElapsedTimer Clock;
    qint64 SentAt = -1;
    uint16_t Id = 0;
    std::vector<double> Ms;

    void Send()
    {
        SentAt = Clock.nsecsElapsed();
        Peer.writeDatagram(LdtxFrame::Build({}, LdtxFrame::GroupListQuery, 0, ++Id, QStringLiteral("CRC-16/MODBUS"))->Bytes,
                           QHostAddress::LocalHost, Port);
    }
    void Received()
    {
        while (Peer.hasPendingDatagrams()) {
            Peer.receiveDatagram();
            if (SentAt >= 0)
                Ms.push_back(double(Clock.nsecsElapsed() - SentAt) / 1e6);
            SentAt = -1;
        }
    }
    void Print(const char *what)
    {
        std::sort(Ms.begin(), Ms.end());
        const auto at = [this](double q) { return Ms.empty() ? 0.0 : Ms[size_t(q * double(Ms.size() - 1))]; };
        std::printf("%-28s %6zu replies  p50 %8.3f ms  p99 %8.3f ms  max %8.3f ms\n", what, Ms.size(), at(0.5), at(0.99),
                    Ms.empty() ? 0.0 : Ms.back());
        Ms.clear();
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    TSampler sampler;
    sampler.Peer.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
    sampler.Clock.start();
    const auto freePort = [] {
        QUdpSocket probe;
        probe.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        return probe.localPort();
    };
    QFile settings(dir.filePath(QStringLiteral("Zelvane.conf")));
    settings.open(QIODevice::WriteOnly);
    settings.write(QStringLiteral("CommIpAddress=127.0.0.1\nCommIpPort=%1\nCommRecIpPort=%2\nRecIpPort=%3\n")
                       .arg(sampler.Peer.localPort())
                       .arg(freePort())
                       .arg(freePort())
                       .toUtf8());
    settings.close();
    TCoreOptions options;
    options.SettingsPath = settings.fileName();
    options.DataDir = dir.path();
    options.ProgramDir = dir.path();
    TVarnexCore core(options);
    core.FormCreate();
    core.CommMsg().SetShown(false);
    sampler.Port = core.PlatformLink().CommToMonitor().LocalPort();
    QObject::connect(&sampler.Peer, &QUdpSocket::readyRead, &sampler.Peer, [&] {
        sampler.Received();
        QTimer::singleShot(1, &sampler.Peer, [&] { sampler.Send(); });
    });

    sampler.Send();
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    sampler.Print("idle");

    QElapsedTimer run;
    run.start();
    const QString error = core.TelBook().Initialise(
        {QStringLiteral("100000"), QStringLiteral("1"), QStringLiteral("是"), QStringLiteral("1"), {}, {},
         QStringLiteral("60000")},
        [](int, int) {
            QCoreApplication::processEvents(); // as the window's progress dialog does
            return true;
        });
    const qint64 runMs = run.elapsed();
    sampler.Print("during 60,000-row 初始化");
    std::printf("初始化 took %lld ms%s\n", static_cast<long long>(runMs), error.isEmpty() ? "" : " (failed)");
    core.FormDestroy();
    return 0;
}
