#include "host_link/host_frame.h"

namespace HostFrame {

namespace {
int FreeSpace(const TByteRing &ring)
{
    return ring.Write >= ring.Read ? TByteRing::Size - (ring.Write - ring.Read) : ring.Read - ring.Write;
}
} // namespace

bool SendDataNet(TByteRing &ring, const int32_t *values, int command, int lastIndex)
{
    if (lastIndex < 0 || FreeSpace(ring) <= lastIndex + 20)
        return false;
    const auto put = [&ring](uint8_t b) {
        ring.Buf[std::size_t(ring.Write)] = b;
        ring.Write = TByteRing::Next(ring.Write);
    };
    put(0xA5);
    put(0xA5);
    put(0xA5);
    const int lengthAt = ring.Write;
    put(0);
    put(0);
    put(uint8_t(command));
    int length = 6;
    int run = 0;
    for (int i = 0; i <= lastIndex; ++i) {
        put(uint8_t(values[i]));
        ++length;
        run = values[i] == 0xA5 ? run + 1 : 0;
        if (run == 2) {
            put(0x55);
            ++length;
            run = 0;
        }
    }
    ring.Set(lengthAt, uint8_t(length >> 8));
    ring.Set(lengthAt + 1, uint8_t(length & 0xFF));
    return true;
}

std::array<int32_t, 6> KeyCommandValues(int keyboard, int module, int column, int row)
{
    const int position = column * 16 + row;
    return {keyboard & 0xFF, 0xFE, module, position, (module + position) & 0x7F, 0xFF};
}

QString KeyPressCaption(int module, int column, int row)
{
    return QStringLiteral("发送:%1     组%2 行%3 列%4").arg(module * 64 + column * 8 + row + 1).arg(module).arg(row).arg(column);
}

} // namespace HostFrame
