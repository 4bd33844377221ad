#pragma once

#include "service/service_log.h"
#include "service/service_notifier.h"
#include "common/role.h"

#include <QObject>

#include <functional>

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
    // afterStart runs once the start-up has run and the program serves (the control socket).
    THeadlessRunner(TVarnexCore &core, bool traffic, std::function<void()> afterStart = {}, QObject *parent = nullptr);
    // One line of standard error for a change of role.
    static QString RoleLine(TRole role, const QString &cause);
    int Run();

private:
    void Stop();

    TVarnexCore &Core;
    TServiceLog Log;
    TServiceNotifier Manager;
    std::function<void()> AfterStart;
};
