#pragma once

#include "common/line_log.h"

#include <QListView>
#include <QStringList>
#include <QTimer>

#include <deque>

class TLogLinesModel;

// A read-only memo that shows a line log as it grows: one row a line, all rows the same height,
// so only the lines in view are ever laid out. New lines come in batches, at most ten times a
// second, so a burst of traffic never waits for the display. Scrolled to the bottom it follows
// new lines; scrolled up it stays. Ctrl+C copies the selected lines.
class TLogMemo : public QListView
{
    Q_OBJECT
public:
    static constexpr int FlushIntervalMs = 100;

    TLogMemo(TLineLog &log, QWidget *parent = nullptr);

    // Long lines wrap instead of scrolling sideways; for a memo of a few lines, such as a
    // notification's text (a busy memo keeps uniform rows: they are far cheaper to lay out).
    void WrapLines();
    // Shows the lines still waiting now.
    void Flush();
    // The memo's lines, the ones still waiting included, joined by line ends.
    QString toPlainText();
    int LineCount() const;
    QString Line(int row) const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Take(const TLogLine &line);
    void ClearAll();

    TLogLinesModel *Lines;
    std::deque<TLogLine> Waiting;
    QTimer FlushTimer;
};
