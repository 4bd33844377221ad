#pragma once

#include "shell/line_log.h"

// The traffic memo and the rule its writers follow: a line is kept only while the memo's own
// shown flag is set (whether or not its panel is visible), switch lines only when the host
// messages are also ticked, and a few lines whatever the flag.
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

private:
    bool IsShown = true;
    bool HostShown = false;
};
