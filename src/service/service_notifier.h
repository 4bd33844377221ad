#pragma once

#include <QObject>
#include <QTimer>

// Tells the service manager (systemd, when it started us with Type=notify) that the program is
// ready, is stopping, and is alive: the watchdog is pinged from the event loop, so a loop that
// hangs stops the pings and the service is restarted. Does nothing where there is no manager.
class TServiceNotifier : public QObject
{
    Q_OBJECT
public:
    explicit TServiceNotifier(QObject *parent = nullptr);

    // Both endpoints are bound: ready to serve. status is shown by `systemctl status`.
    void Ready(const QString &status);
    void Stopping();
    // The watchdog's interval the manager asked for; 0 when there is none.
    qint64 WatchdogMs() const { return IntervalMs; }

private:
    void Send(const QByteArray &state);

    QTimer Pings;
    qint64 IntervalMs = 0;
};
