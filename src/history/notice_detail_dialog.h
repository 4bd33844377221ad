#pragma once

#include "history/notice.h"

#include <QDialog>

#include <optional>

class QLabel;
class QTableWidget;
class THistory;

// "n路详情": the channel's current or last notification, every called number with its name,
// key position or 无键位, and when its key was sent. Follows the channel while open. The same view
// shows one entry of 通知记录 (a link event too), following it while it is its channel's current
// notice.
class TNoticeDetailDialog : public QDialog
{
    Q_OBJECT
public:
    TNoticeDetailDialog(THistory &history, QWidget *parent = nullptr);

    void ShowChannel(int channel);
    void ShowEntry(const TNotice &entry);

    QLabel *Summary;
    QTableWidget *Numbers;

private:
    void Refresh();

    THistory &History;
    int Channel = -1;
    std::optional<TNotice> Entry;
};
