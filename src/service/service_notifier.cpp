#include "service/service_notifier.h"

#ifdef VARNEX_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

TServiceNotifier::TServiceNotifier(QObject *parent) : QObject(parent)
{
#ifdef VARNEX_HAVE_SYSTEMD
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        IntervalMs = qint64(usec / 1000);
#endif
    if (IntervalMs > 0) {
        // Twice per interval, as the manager recommends: one late tick is no restart.
        Pings.setInterval(int(qMax<qint64>(1, IntervalMs / 2)));
        connect(&Pings, &QTimer::timeout, this, [this] { Send("WATCHDOG=1"); });
    }
}

void TServiceNotifier::Ready(const QString &status)
{
    Send("READY=1\nSTATUS=" + status.toUtf8());
    if (IntervalMs > 0)
        Pings.start();
}

void TServiceNotifier::Stopping()
{
    Pings.stop();
    Send("STOPPING=1");
}

void TServiceNotifier::Send(const QByteArray &state)
{
#ifdef VARNEX_HAVE_SYSTEMD
    sd_notify(0, state.constData());
#else
    Q_UNUSED(state)
#endif
}
