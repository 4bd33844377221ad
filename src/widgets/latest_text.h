#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

// Shows a text that may change thousands of times a second (a check code, a link state) at
// most ten times a second, always ending on the latest: the links never wait for a repaint.
class TLatestText : public QObject
{
    Q_OBJECT
public:
    static constexpr int IntervalMs = 100;

    TLatestText(std::function<void(const QString &)> show, QObject *parent)
        : QObject(parent), Show(std::move(show))
    {
        Timer.setSingleShot(true);
        Timer.setInterval(IntervalMs);
        connect(&Timer, &QTimer::timeout, this, &TLatestText::Flush);
    }

    void Set(const QString &text)
    {
        Latest = text;
        if (!Timer.isActive())
            Timer.start();
    }
    // Shows the latest text now.
    void Flush()
    {
        Timer.stop();
        if (!Latest.isNull())
            Show(Latest);
        Latest = QString();
    }

private:
    std::function<void(const QString &)> Show;
    QString Latest;
    QTimer Timer;
};
