#pragma once

#include "common/line_log.h"

#include <QByteArray>
#include <QTimer>
#include <vector>

// The traffic memo and the rule its writers follow: a line is kept only while the memo's own
// shown flag is set (whether or not its panel is visible), switch lines only when the host
// messages are also ticked, and a few lines whatever the flag. A frame's hex line (4,400
// characters for a full reply) is made a moment later, in a batch, not while the link answers;
// lines keep their order.
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
    void Clear() override;

    static constexpr int SettleMs = 50;

protected:
    void Settle() override;

private:
    struct TPending
    {
        QString Text; // a whole line, or the prefix of a frame's
        QByteArray Frame;
        char Separator = ' ';
        QString Suffix;
        bool IsFrame = false;
    };
    void Put(const QString &line);

    std::vector<TPending> Waiting;
    QTimer SettleTimer;
    bool IsShown = true;
    bool HostShown = false;
};
