#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QStringList>

#include <deque>

// One line of a log: a text, or a frame kept as its bytes and written out as hex only when
// someone reads it (a full reply is 1,400 bytes but a 4,400-character line, and most lines of
// a busy link are never looked at).
class TLogLine
{
public:
    TLogLine() = default;
    TLogLine(const QString &text) : Prefix(text) {} // NOLINT: a text is a line
    // prefix, every byte as two hex digits followed by separator, then suffix.
    static TLogLine Frame(const QString &prefix, const QByteArray &bytes, char separator, const QString &suffix);

    QString Text() const;
    // The length of Text(), without making it.
    qsizetype Length() const;

private:
    QString Prefix;
    QByteArray Bytes;
    QString Suffix;
    char Separator = ' ';
    bool IsFrame = false;
};
Q_DECLARE_METATYPE(TLogLine)

// A memo's lines, newest last. Keeps the most recent MaxLines so a platform that runs for
// months does not grow without bound.
class TLineLog : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxLines = 10000;

    explicit TLineLog(const QString &firstLine = QString(), QObject *parent = nullptr);

    // The lines' texts, oldest first.
    QStringList Lines() const;
    const std::deque<TLogLine> &Items() const { return Kept; }
    void Add(const TLogLine &line);
    virtual void Clear();

Q_SIGNALS:
    void LineAdded(const TLogLine &line);
    void Cleared();

private:
    // A queue: dropping the oldest line never moves the others, whatever the rate.
    std::deque<TLogLine> Kept;
};
