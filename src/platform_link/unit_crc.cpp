#include "platform_link/unit_crc.h"

#include <QStringList>

namespace Unit_CRC {

namespace {
constexpr std::array<uint16_t, 256> MakeTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t code = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            code = (code & 1) ? static_cast<uint16_t>((code >> 1) ^ 0xA001) : static_cast<uint16_t>(code >> 1);
        table[i] = code;
    }
    return table;
}

bool IsHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
        || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

int HexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u <= u'9')
        return u - u'0';
    if (u <= u'F')
        return u - u'A' + 10;
    return u - u'a' + 10;
}
} // namespace

const std::array<uint16_t, 256> CRC16Table = MakeTable();

uint16_t UpdateCRC16(uint16_t start, QByteArrayView bytes)
{
    uint16_t code = start;
    for (const char c : bytes)
        code = static_cast<uint16_t>((code >> 8) ^ CRC16Table[(code ^ static_cast<uint8_t>(c)) & 0xFF]);
    return code;
}

bool CheckHexText(QString &text)
{
    if (text.isEmpty())
        return false;
    QString t = text;
    for (QChar &c : t) {
        if (c == QLatin1Char(','))
            c = QLatin1Char(' ');
        else if (c != QLatin1Char(' ') && !IsHexDigit(c))
            return false;
    }

    // Groups between blanks; a group with an odd number of digits gets a leading 0.
    const QStringList groups = t.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString digits;
    for (const QString &g : groups)
        digits += (groups.size() > 1 && g.size() % 2) ? QLatin1Char('0') + g : g;
    if (digits.size() % 2)
        digits.prepend(QLatin1Char('0'));

    QString out;
    out.reserve(digits.size() * 3 / 2);
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        if (i)
            out += QLatin1Char(' ');
        out += digits.mid(i, 2);
    }
    text = out;
    return true;
}

QByteArray HexTextToBytes(const QString &text)
{
    QString t = text;
    if (!CheckHexText(t))
        return QByteArray();
    t.remove(QLatin1Char(' '));
    QByteArray bytes;
    bytes.reserve(t.size() / 2);
    for (qsizetype i = 0; i + 1 < t.size(); i += 2)
        bytes.append(static_cast<char>(HexValue(t[i]) * 16 + HexValue(t[i + 1])));
    return bytes;
}

} // namespace Unit_CRC

uint16_t GetCRC16CheckCode(QByteArrayView bytes)
{
    // The same reflected polynomial as CRC-16/IBM, started from FFFF: the table serves both, a
    // byte at a time instead of a bit at a time.
    return Unit_CRC::UpdateCRC16(0xFFFF, bytes);
}

uint16_t GetStrCrc(QByteArrayView bytes, const QString &checkType)
{
    // The frame bytes go straight to the routine: a round trip through hex text gives the same bytes.
    if (checkType == QLatin1String("CRC-16/IBM"))
        return Unit_CRC::UpdateCRC16(0, bytes);
    if (checkType == QLatin1String("CRC-16/MODBUS"))
        return GetCRC16CheckCode(bytes);
    return 0;
}

QString CheckCodeDisplayText(uint16_t code)
{
    // Made for every frame sent and received: filled in by hand, no format text parsed.
    static constexpr char16_t Hex[] = u"0123456789ABCDEF";
    char16_t text[12] = {u'0', u'X', Hex[code >> 12], Hex[(code >> 8) & 15], Hex[(code >> 4) & 15], Hex[code & 15], u'/'};
    char16_t decimal[5];
    int digits = 0;
    for (unsigned rest = code; digits == 0 || rest; rest /= 10)
        decimal[digits++] = char16_t(u'0' + rest % 10);
    int size = 7;
    while (digits)
        text[size++] = decimal[--digits];
    return QString(reinterpret_cast<const QChar *>(text), size);
}
