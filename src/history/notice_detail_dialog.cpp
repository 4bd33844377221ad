#include "history/notice_detail_dialog.h"

#include <QColor>

#include "history/history.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TNoticeDetailDialog::TNoticeDetailDialog(THistory &history, QWidget *parent) : QDialog(parent), History(history)
{
    setObjectName(QStringLiteral("NoticeDetail"));
    resize(640, 420);
    Summary = new QLabel(this);
    Summary->setObjectName(QStringLiteral("Summary"));
    Summary->setWordWrap(true);
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Numbers = new QTableWidget(0, 4, this);
    Numbers->setObjectName(QStringLiteral("Numbers"));
    Numbers->setHorizontalHeaderLabels({QStringLiteral("号码"), QStringLiteral("名称"), QStringLiteral("键位"),
                                        QStringLiteral("按键发送时间")});
    Numbers->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Numbers->horizontalHeader()->setStretchLastSection(true);
    Numbers->verticalHeader()->hide();
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Summary);
    layout->addWidget(Numbers, 1);
    layout->addWidget(close, 0, Qt::AlignRight);
    connect(&History, &THistory::ChannelNoticeChanged, this, [this](int channel) {
        if ((channel == Channel || (Entry && Entry->Channel == channel)) && isVisible())
            Refresh();
    });
}

void TNoticeDetailDialog::ShowChannel(int channel)
{
    Channel = channel;
    Entry.reset();
    setWindowTitle(QStringLiteral("%1路详情").arg(channel));
    Refresh();
    show();
    raise();
    activateWindow();
}

void TNoticeDetailDialog::ShowEntry(const TNotice &entry)
{
    Channel = -1;
    Entry = entry;
    setWindowTitle(QStringLiteral("通知记录详情"));
    Refresh();
    show();
    raise();
    activateWindow();
}

void TNoticeDetailDialog::Refresh()
{
    const TNotice *notice = Entry ? &*Entry : History.LastOf(Channel);
    // The entry is still its channel's current notice: what happened to it since it was read.
    if (Entry)
        if (const TNotice *current = History.LastOf(Entry->Channel); current && current->Id == Entry->Id)
            notice = current;
    Numbers->setRowCount(0);
    if (!notice) {
        Summary->setText(QStringLiteral("该通道还没有通知。"));
        return;
    }
    if (notice->IsEvent()) {
        QString text = QStringLiteral("%1  %2").arg(notice->Kind, TNotice::TimeText(notice->At));
        if (!notice->Content.isEmpty())
            text += (notice->ContentIsPeer() ? QStringLiteral("\n地址：") : QStringLiteral("\n内容：")) + notice->Content;
        Summary->setText(text);
        return;
    }
    QString latency = QStringLiteral("按键尚未发出");
    if (notice->LatencyMs >= 0)
        latency = QStringLiteral("按键发出于 %1（用时 %2 毫秒）%3")
                      .arg(TNotice::TimeText(notice->SentAt))
                      .arg(notice->LatencyMs)
                      .arg(notice->SwitchUp ? QString() : QStringLiteral("，调度主机中断，未送达"));
    Summary->setText(QStringLiteral("%1  收到于 %2  消息号 %3  对象 %4\n内容：%5  播放次数 %6  %7\n%8")
                         .arg(notice->Kind, TNotice::TimeText(notice->At), QString::number(notice->MessageId), notice->TargetText(),
                              notice->Content, QString::number(notice->PlayCount), notice->Outcome, latency));
    Numbers->setRowCount(int(notice->Numbers.size()));
    int keyless = 0;
    for (int row = 0; row < notice->Numbers.size(); ++row) {
        const TNotice::TNumber &n = notice->Numbers[row];
        const QStringList cells{n.Number, n.Name, n.KeyPosition, TNotice::TimeText(n.SentAt)};
        // A number without a key is never called: it stands out, whatever its place in the list.
        const bool noKey = n.KeyPosition == TNotice::NoKeyText();
        keyless += noKey ? 1 : 0;
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            if (noKey)
                item->setBackground(QColor(0xFF, 0xD0, 0xD0));
            Numbers->setItem(row, column, item);
        }
    }
    if (keyless > 0)
        Summary->setText(Summary->text() + QStringLiteral("\n%1 个号码无键位，不会被呼叫（红色行）。").arg(keyless));
}
