#pragma once

#include <QDialog>

class QLabel;
class QTableWidget;
class THistory;

// "n路详情": the channel's current or last notification, every called number with its name,
// key position or 无键位, and when its key was sent. Follows the channel while open.
class TNoticeDetailDialog : public QDialog
{
    Q_OBJECT
public:
    TNoticeDetailDialog(THistory &history, QWidget *parent = nullptr);

    void ShowChannel(int channel);

    QLabel *Summary;
    QTableWidget *Numbers;

private:
    void Refresh();

    THistory &History;
    int Channel = -1;
};
