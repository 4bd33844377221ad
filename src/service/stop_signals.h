#pragma once

#include <QObject>

// SIGTERM, SIGINT and SIGHUP, told to the event loop: the program stops as closing its window
// does. A second signal ends the process at once. Only one may exist.
class TStopSignals : public QObject
{
    Q_OBJECT
public:
    explicit TStopSignals(QObject *parent = nullptr);
    ~TStopSignals() override;

Q_SIGNALS:
    void StopAsked(int signalNumber);
};
