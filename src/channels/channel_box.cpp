#include "channels/channel_box.h"

#include "channels/play_channels.h"
#include "widgets/log_memo.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

TChannelBox::TChannelBox(TPlayChannels &channels, int channel, QWidget *parent)
    : QGroupBox(parent), Channels(channels), Channel(channel)
{
    setObjectName(QStringLiteral("ChnBox%1").arg(channel));
    setTitle(QStringLiteral("第%1路").arg(channel));
    setFixedSize(297, 321);
    TPlayChn &chn = channels.Channel(channel);

    StatusPanel = new QLabel(this);
    StatusPanel->setAlignment(Qt::AlignCenter);
    StatusPanel->setAutoFillBackground(true);
    StatusPanel->setFixedHeight(24);
    QFont bold = StatusPanel->font();
    bold.setBold(true);
    StatusPanel->setFont(bold);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 6);
    grid->setVerticalSpacing(2);
    grid->addWidget(StatusPanel, 0, 0, 1, 4);
    const auto field = [&](const QString &caption, int row, int column, int span = 1) {
        grid->addWidget(new QLabel(caption, this), row, column);
        auto *value = new QLabel(this);
        grid->addWidget(value, row, column + 1, 1, span);
        return value;
    };
    CallerLabel = field(QStringLiteral("主叫号码："), 1, 0, 3);
    StartTimeLabel = field(QStringLiteral("启动时间:"), 2, 0, 3);
    // A row of its own: "单呼号码=2005播放文本" is wider than half a box.
    CallTypeLabel = field(QStringLiteral("呼叫类型:"), 3, 0, 3);
    PlayCountLabel = field(QStringLiteral("播放次数："), 4, 0);
    TotalLabel = field(QStringLiteral("总数："), 4, 2);
    RingLabel = field(QStringLiteral("振铃："), 5, 0);
    OffHookLabel = field(QStringLiteral("摘机："), 5, 2);
    HungUpLabel = field(QStringLiteral("已挂机："), 6, 0);
    // How many notifications wait behind the running one.
    QueueLabel = new QLabel(this);
    QueueLabel->setObjectName(QStringLiteral("QueueLabel"));
    grid->addWidget(QueueLabel, 6, 2, 1, 2);

    grid->addWidget(new QLabel(QStringLiteral("播放内容:"), this), 7, 0, 1, 4);
    TextMemo = new TLogMemo(chn.TextMemo, this);
    TextMemo->WrapLines(); // a notification's text is read whole, as in 详情
    grid->addWidget(TextMemo, 8, 0, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("播放号码:"), this), 9, 0, 1, 4);
    NumberMemo = new TLogMemo(chn.NumberMemo, this);
    grid->addWidget(NumberMemo, 10, 0, 1, 4);
    DetailButton = new QPushButton(QStringLiteral("%1路详情").arg(channel), this);
    grid->addWidget(DetailButton, 11, 2, 1, 2);

    connect(&channels, &TPlayChannels::DisplayChanged, this, [this](int changed) {
        if (changed == Channel)
            ShowDisplay();
    });
    connect(&channels, &TPlayChannels::DetailsChanged, this, [this](int changed) {
        if (changed == Channel)
            ShowDetails();
    });
    ShowDetails();
    ShowDisplay();
}

void TChannelBox::ShowDisplay()
{
    const TPlayChn &chn = Channels.Channel(Channel);
    CallerLabel->setText(chn.CallerLabel);
    StatusPanel->setText(chn.StatusCaption);
    QPalette palette = StatusPanel->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(chn.StatusColor));
    palette.setColor(QPalette::WindowText, chn.StatusColor == 0xFFFFFF ? Qt::black : Qt::white);
    StatusPanel->setPalette(palette);
}

void TChannelBox::ShowDetails()
{
    const TPlayChn &chn = Channels.Channel(Channel);
    StartTimeLabel->setText(chn.StartTimeLabel);
    CallTypeLabel->setText(chn.CallTypeLabel);
    PlayCountLabel->setText(chn.PlayCountLabel);
    TotalLabel->setText(chn.TotalLabel);
    RingLabel->setText(chn.RingLabel);
    OffHookLabel->setText(chn.OffHookLabel);
    HungUpLabel->setText(chn.HungUpLabel);
    QueueLabel->setText(chn.QueueLabel);
}
