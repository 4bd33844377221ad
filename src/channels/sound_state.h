#pragma once

#include <QString>
#include <QtGlobal>

// How the sound output stands: whether there is a device to play on, and how the last sound
// went. A channel runs on without sound either way; this is for whoever watches the program.
struct TSoundState
{
    bool DeviceFound = false;
    QString Device;          // the output device's name, empty when there is none
    bool LastPlayOk = true;  // true before the first play
    QString Problem;         // what is wrong (no device, or why the last play failed), in Chinese; empty when nothing
    qint64 LastPlayMs = 0;   // when the last play ended or failed, ms since the epoch; 0 before the first

    bool operator==(const TSoundState &) const = default;
};
