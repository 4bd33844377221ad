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

std::optional<TKeyPress> TakeKeyCommand(QByteArray &stream, QString *error)
{
    error->clear();
    const QByteArray sync("\xA5\xA5\xA5", 3);
    const qsizetype start = stream.indexOf(sync);
    if (start < 0) {
        stream = stream.right(2); // a sync may be arriving
        return std::nullopt;
    }
    stream.remove(0, start);
    if (stream.size() < 6)
        return std::nullopt;
    const int length = uint8_t(stream[3]) << 8 | uint8_t(stream[4]);
    if (length < 6) {
        stream.remove(0, 3);
        *error = QStringLiteral("帧长度 %1 小于 6").arg(length);
        return std::nullopt;
    }
    if (stream.size() < length)
        return std::nullopt;
    const QByteArray frame = stream.left(length);
    stream.remove(0, length);
    // Data with the stuffing taken out: a 55 after every second A5 in a row.
    QByteArray data;
    int run = 0;
    for (qsizetype i = 6; i < frame.size(); ++i) {
        const auto b = uint8_t(frame[i]);
        if (run == 2) {
            run = 0;
            if (b != 0x55) {
                *error = QStringLiteral("两个A5之后缺少填充字节55");
                return std::nullopt;
            }
            continue;
        }
        data += char(b);
        run = b == 0xA5 ? run + 1 : 0;
    }
    if (uint8_t(frame[5]) != KeyCommand || data.size() != 6 || uint8_t(data[1]) != 0xFE || uint8_t(data[5]) != 0xFF) {
        *error = QStringLiteral("不是按键命令: ") + QString::fromLatin1(frame.toHex(' ').toUpper());
        return std::nullopt;
    }
    const int module = uint8_t(data[2]), position = uint8_t(data[3]);
    if (uint8_t(data[4]) != ((module + position) & 0x7F)) {
        *error = QStringLiteral("按键命令校验字节错: ") + QString::fromLatin1(frame.toHex(' ').toUpper());
        return std::nullopt;
    }
    return TKeyPress{uint8_t(data[0]), module, position / 16, position % 16};
}

QString KeyPressCaption(int module, int column, int row)
{
    return QStringLiteral("发送:%1     组%2 行%3 列%4").arg(module * 64 + column * 8 + row + 1).arg(module).arg(row).arg(column);
}

} // namespace HostFrame
