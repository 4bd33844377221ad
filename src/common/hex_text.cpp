#include "common/hex_text.h"

#include <algorithm>

QString HexLine(const QString &prefix, QByteArrayView bytes, char separator, const QString &suffix)
{
    static constexpr char16_t Digits[] = u"0123456789ABCDEF";
    // Written in place: a reply's line is 4,400 characters, made for every frame sent.
    QString text(prefix.size() + bytes.size() * 3 + suffix.size(), Qt::Uninitialized);
    QChar *out = std::copy(prefix.cbegin(), prefix.cend(), text.data());
    for (const char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        *out++ = QChar(Digits[b >> 4]);
        *out++ = QChar(Digits[b & 0x0F]);
        *out++ = QChar(QLatin1Char(separator));
    }
    std::copy(suffix.cbegin(), suffix.cend(), out);
    return text;
}
