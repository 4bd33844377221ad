#pragma once

#include "common/line_log.h"

#include <QByteArray>

// The traffic memo and the rule its writers follow: a line is kept only while the memo's own
// shown flag is set (whether or not its panel is visible), switch lines only when the host
// messages are also ticked, and a few lines whatever the flag. A frame's line keeps the frame's
// bytes; its hex text is made only when the line is read or shown.
class TTrafficLog : public TLineLog
{
    Q_OBJECT
public:
    explicit TTrafficLog(QObject *parent = nullptr);

    bool Shown() const { return IsShown; }
    void SetShown(bool shown) { IsShown = shown; }
    bool HostMessagesShown() const { return HostShown; }
    void SetHostMessagesShown(bool shown) { HostShown = shown; }

    void Append(const QString &line);       // only while shown
    void AppendHost(const QString &line);   // only while shown and host messages ticked
    void AppendAlways(const QString &line); // whatever the flag
    // prefix, the frame's bytes in hex with separator after each, suffix; only while shown.
    void AppendFrame(const QString &prefix, const QByteArray &bytes, char separator, const QString &suffix);

private:
    bool IsShown = true;
    bool HostShown = false;
};
