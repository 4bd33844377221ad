// Memory under a flood of phone calls from the platform, with the real media player and the
// shipped sounds: the resident size once settled, and again after 10,000 calls at full rate.
#include "app/varnex_core.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtEndian>

#include <cstdio>
#include <unistd.h>

namespace {

double ResidentMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1e6 : 0;
}

void Settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QByteArray CallPayload(int caller, int called)
{
    QByteArray payload(8, 0);
    qToLittleEndian<int32_t>(caller, payload.data());
    qToLittleEndian<int32_t>(called, payload.data() + 4);
    return payload;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? atoi(argv[1]) : 10000;
    QTemporaryDir dir;
    for (int n = 0; n < 8 && !qEnvironmentVariableIsSet("NOSOUND"); ++n)
        QFile::copy(QStringLiteral(VARNEX_SOUNDS_DIR "/w%1.wav").arg(n), dir.filePath(QStringLiteral("w%1.wav").arg(n)));
    QUdpSocket platform; // the replies go here and are dropped
    platform.bind(QHostAddress::LocalHost, 0);
    QFile settings(dir.filePath(QStringLiteral("Zelvane.conf")));
    settings.open(QIODevice::WriteOnly);
    settings.write(QStringLiteral("CommIpAddress=127.0.0.1\nCommIpPort=%1\nCommRecIpPort=0\nRecIpPort=0\nifUse0=是\n")
                       .arg(platform.localPort())
                       .toUtf8());
    settings.close();

    TCoreOptions options;
    options.SettingsPath = settings.fileName();
    options.ProgramDir = dir.path();
    options.KeyFile = dir.filePath(QStringLiteral("key.dat"));
    TVarnexCore core(options);
    core.FormCreate();

    const auto flood = [&](int count) {
        for (int i = 0; i < count; ++i) {
            core.Dispatcher().ExecOnCommCommand(uint16_t(i), 0, 6, CallPayload(2001, 2002 + i % 50));
            QCoreApplication::processEvents();
            while (platform.hasPendingDatagrams())
                platform.readDatagram(nullptr, 0);
        }
    };
    flood(200);
    Settle(3000);
    const double settled = ResidentMb();
    QElapsedTimer timer;
    timer.start();
    flood(calls);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double flooded = ResidentMb();
    Settle(3000);
    const double after = ResidentMb();
    std::printf("phone calls at full rate: %d in %.1f s (%.0f/s)\n", calls, seconds, calls / seconds);
    std::printf("resident size: settled %.1f MB, right after the flood %.1f MB (%+.1f MB), 3 s later %.1f MB (%+.1f MB)\n",
                settled, flooded, flooded - settled, after, after - settled);
    return 0;
}
