#include "common/text_cut.h"

#include <QStringEncoder>

namespace {
// Bytes of one character (a surrogate pair counts as one) in the encoding.
template <typename Encode>
QString CutAt(const QString &text, int maxBytes, Encode bytesOf)
{
    int used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const int bytes = bytesOf(QStringView(text).mid(i, len));
        if (used + bytes > maxBytes)
            break;
        used += bytes;
        i += len;
    }
    return text.left(i);
}
} // namespace

QString CutToGbkBytes(const QString &text, int maxBytes)
{
    // GBK is at most two bytes a character, so a short text always fits.
    if (text.size() * 2 <= maxBytes)
        return text;
    thread_local QStringEncoder gbk("GBK"); // opening the converter costs more than using it
    if (!gbk.isValid()) // no GBK tables in this Qt: GBK has one byte for ASCII, two for the rest
        return CutAt(text, maxBytes, [](QStringView c) { return c[0].unicode() < 0x80 ? 1 : 2; });
    if (QByteArray(gbk.encode(text)).size() <= maxBytes)
        return text;
    return CutAt(text, maxBytes, [](QStringView c) { return int(QByteArray(gbk.encode(c)).size()); });
}

QByteArray Utf8CutAtBoundary(const QString &text, int maxBytes)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= maxBytes)
        return utf8;
    return CutAt(text, maxBytes, [](QStringView c) { return int(c.toUtf8().size()); }).toUtf8();
}
