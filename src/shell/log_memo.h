#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

class TLineLog;

// A read-only memo that shows a line log as it grows. New lines are shown in batches, at most
// ten times a second, so a burst of traffic never waits for text layout; the memo lays out
// only the lines in view. Scrolled to the bottom it follows new lines.
class TLogMemo : public QPlainTextEdit
{
    Q_OBJECT
public:
    static constexpr int FlushIntervalMs = 100;

    TLogMemo(TLineLog &log, QWidget *parent = nullptr);

    // Shows the lines still waiting now.
    void Flush();
    // The memo's text, the lines still waiting included.
    QString toPlainText();

private:
    void Take(const QString &line);
    void ClearAll();

    QStringList Waiting;
    QTimer FlushTimer;
};
