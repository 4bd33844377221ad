#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QStringList>

#include <cstdint>
#include <deque>

// How much a line matters, numbered as syslog and the journal number their priorities.
enum class TLogLevel : uint8_t { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

// One line of a log: a text, or a frame kept as its bytes and written out as hex only when
// someone reads it (a full reply is 1,400 bytes but a 4,400-character line, and most lines of
// a busy link are never looked at).
class TLogLine
{
public:
    TLogLine() = default;
    // A line of the system message memo is something gone wrong unless it says otherwise.
    TLogLine(const QString &text, TLogLevel level = TLogLevel::Warning) : Prefix(text), Importance(level) {} // NOLINT: a text is a line
    // prefix, every byte as two hex digits followed by separator, then suffix.
    static TLogLine Frame(const QString &prefix, const QByteArray &bytes, char separator, const QString &suffix);

    QString Text() const;
    // The length of Text(), without making it.
    qsizetype Length() const;
    TLogLevel Level() const { return Importance; }

private:
    QString Prefix;
    QByteArray Bytes;
    QString Suffix;
    char Separator = ' ';
    bool IsFrame = false;
    TLogLevel Importance = TLogLevel::Warning;
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
