#pragma once

#include <QObject>
#include <QStringList>

// A memo's lines, newest last. Keeps the most recent MaxLines so a platform that runs for
// months does not grow without bound.
class TLineLog : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxLines = 10000;

    explicit TLineLog(const QString &firstLine = QString(), QObject *parent = nullptr);

    const QStringList &Lines() const { return Items; }
    void Add(const QString &line);
    void Clear();

Q_SIGNALS:
    void LineAdded(const QString &line);
    void Cleared();

private:
    QStringList Items;
};
