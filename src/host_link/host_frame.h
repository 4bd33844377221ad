#pragma once

#include "common/byte_ring.h"

#include <QString>
#include <QByteArray>
#include <array>
#include <optional>
#include <cstdint>

// Frames to the switch: sync A5 A5 A5, a big-endian length of the whole frame as written, the
// command byte, then the data with a 55 stuffed after every second A5 in a row.
namespace HostFrame {

inline constexpr int KeyCommand = 3;

// Appends one frame to the ring, or nothing when the ring has lastIndex + 20 bytes free or fewer.
// Only the low byte of each value goes on the wire. True when written.
bool SendDataNet(TByteRing &ring, const int32_t *values, int command, int lastIndex);

// The six data values of a key press on the switch console.
std::array<int32_t, 6> KeyCommandValues(int keyboard, int module, int column, int row);

// A key press as the switch reads it from a frame.
struct TKeyPress
{
    int Keyboard = 0; // low byte only, as on the wire
    int Module = 0;
    int Column = 0;
    int Row = 0;
};

// Takes the first whole frame off the front of stream (bytes before a sync are skipped) and
// reads it as a key command. Nothing when no whole frame is there yet; *error set, and the frame
// taken off, when it is not a well-formed key command.
std::optional<TKeyPress> TakeKeyCommand(QByteArray &stream, QString *error);

// "发送:" with the key number, module, row and column of a key press.
QString KeyPressCaption(int module, int column, int row);

} // namespace HostFrame
