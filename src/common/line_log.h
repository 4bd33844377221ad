#pragma once

#include <QObject>
#include <QStringList>

#include <deque>

// A memo's lines, newest last. Keeps the most recent MaxLines so a platform that runs for
// months does not grow without bound.
class TLineLog : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxLines = 10000;

    explicit TLineLog(const QString &firstLine = QString(), QObject *parent = nullptr);

    // A copy of the lines, oldest first (lines still being made are made first).
    QStringList Lines()
    {
        Settle();
        return QStringList(Items.begin(), Items.end());
    }
    void Add(const QString &line);
    virtual void Clear();

protected:
    // Makes the lines that a kind of log puts off making.
    virtual void Settle() {}

Q_SIGNALS:
    void LineAdded(const QString &line);
    void Cleared();

private:
    // A queue: dropping the oldest line never moves the others, whatever the rate.
    std::deque<QString> Items;
};
