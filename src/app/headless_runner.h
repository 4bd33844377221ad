#pragma once

#include <QObject>

class TVarnexCore;

// Runs the core without windows: what the system message memo would show goes to standard
// error, one timestamped line each (traffic lines too when asked). SIGTERM, SIGINT and SIGHUP end it as
// closing the window does (switch endpoint, then platform endpoint), with status 0; a second
// signal ends it at once.
class THeadlessRunner : public QObject
{
    Q_OBJECT
public:
    THeadlessRunner(TVarnexCore &core, bool traffic, QObject *parent = nullptr);
    int Run();

    // One line for standard error: date, time, the text on one line.
    static QString LogLine(const QString &text);

private:
    void Stop();

    TVarnexCore &Core;
};
