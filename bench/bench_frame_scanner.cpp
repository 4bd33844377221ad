// Platform receive throughput: datagrams through the receive event and the frame scanner.
#include "platform_link/ldtx_frame.h"
#include "platform_link/platform_link.h"
#include "common/configuration.h"
#include "common/traffic_log.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TConfiguration config;
    config.CommIpAddress = QStringLiteral("127.0.0.1");
    TTrafficLog traffic;
    TPlatformLink link(config, traffic);
    long frames = 0;
    QObject::connect(&link, &TPlatformLink::FrameReceived, &link, [&](auto...) { ++frames; });

    const QByteArray small = LdtxFrame::Build(QByteArray(40, 'a'), 2, 0, 1, config.CheckType)->Bytes;
    const QByteArray large = LdtxFrame::Build(QByteArray(1449, 'b'), 2, 0, 2, config.CheckType)->Bytes;
    for (const bool shown : {false, true}) {
        traffic.SetShown(shown);
        for (const QByteArray *frame : {&small, &large}) {
            const QByteArray datagram = frame->repeated(5);
            const int rounds = 20000;
            frames = 0;
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < rounds; ++i) {
                link.CommToMonitorUDPRead(datagram, config.CommIpAddress);
                link.ScanFrames();
            }
            const double seconds = double(timer.nsecsElapsed()) / 1e9;
            std::printf("%5lld-byte frames, traffic memo %-5s: %8.0f frames/s, %6.1f MB/s\n",
                        static_cast<long long>(frame->size()), shown ? "shown" : "off", double(frames) / seconds,
                        double(frames) * double(frame->size()) / seconds / 1e6);
        }
    }
    return 0;
}
