#pragma once

#include "common/line_log.h"

#include <QDateTime>
#include <QString>

#include <cstdio>

// The lines a program without windows writes to standard error. Under the journal (systemd set
// JOURNAL_STREAM to our standard error) each line starts with its priority, <3> to <7>, and has
// no time of its own, since the journal stamps it: `journalctl -u varnex -p warning` then finds
// the problems. On a terminal or into a file each line starts with the local time.
class TServiceLog
{
public:
    explicit TServiceLog(std::FILE *out = stderr);

    bool ToJournal() const { return Journal; }
    void Write(TLogLevel level, const QString &text) const;
    // One line as written: text on one line, with the priority or the time in front.
    static QString Line(TLogLevel level, const QString &text, bool journal, const QDateTime &now);
    // Qt's and the media system's own messages (GStreamer, ALSA, OpenAL) are kept out unless
    // asked (--verbose), then written at their level; a fatal one always. OpenAL's stay out.
    // Called before the media libraries load.
    static void KeepLibraryMessages(bool verbose);

private:
    std::FILE *Out;
    bool Journal = false;
};
