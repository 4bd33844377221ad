#pragma once

#include <QObject>
#include <QString>

// Where diagnostic texts go. Tracing is off for the whole run: texts are dropped, shown nowhere
// and written nowhere; Traced lets a test see what was handed in.
class TTraceSink : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    void LogMon(const QString &message) { Q_EMIT Traced(message); }

Q_SIGNALS:
    void Traced(const QString &message);
};
