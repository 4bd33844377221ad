#include "common/line_log.h"

#include "common/hex_text.h"

TLogLine TLogLine::Frame(const QString &prefix, const QByteArray &bytes, char separator, const QString &suffix)
{
    TLogLine line(prefix);
    line.Bytes = bytes;
    line.Suffix = suffix;
    line.Separator = separator;
    line.IsFrame = true;
    return line;
}

QString TLogLine::Text() const
{
    return IsFrame ? HexLine(Prefix, Bytes, Separator, Suffix) : Prefix;
}

qsizetype TLogLine::Length() const
{
    return IsFrame ? Prefix.size() + Bytes.size() * 3 + Suffix.size() : Prefix.size();
}

TLineLog::TLineLog(const QString &firstLine, QObject *parent) : QObject(parent)
{
    if (!firstLine.isNull())
        Kept.push_back(firstLine);
}

QStringList TLineLog::Lines() const
{
    QStringList lines;
    lines.reserve(qsizetype(Kept.size()));
    for (const TLogLine &line : Kept)
        lines << line.Text();
    return lines;
}

void TLineLog::Add(const TLogLine &line)
{
    Kept.push_back(line);
    if (qsizetype(Kept.size()) > MaxLines)
        Kept.pop_front();
    Q_EMIT LineAdded(line);
}

void TLineLog::Clear()
{
    Kept.clear();
    Q_EMIT Cleared();
}
