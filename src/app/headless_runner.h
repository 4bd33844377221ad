#pragma once

#include "app/service_log.h"
#include "app/service_notifier.h"

#include <QObject>

class TVarnexCore;

// Runs the core without windows: what the system message memo would show goes to standard
// error (traffic lines too when asked), with the links' ups and downs and each notification
// done. A start-up that leaves the program unable to serve ends it with status 1. SIGTERM,
// SIGINT and SIGHUP end it as closing the window does (switch endpoint, then platform
// endpoint), with status 0; a second signal ends it at once.
class THeadlessRunner : public QObject
{
    Q_OBJECT
public:
    THeadlessRunner(TVarnexCore &core, bool traffic, QObject *parent = nullptr);
    int Run();

private:
    void Stop();

    TVarnexCore &Core;
    TServiceLog Log;
    TServiceNotifier Manager;
};
