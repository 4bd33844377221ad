#include "channels/channel_settings_dialog.h"

#include "channels/play_channels.h"
#include "common/configuration.h"
#include "widgets/editable_list.h"
#include "widgets/problem_label.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

TSetChnFrom::TSetChnFrom(const TPlayChannels &channels, QWidget *parent) : QDialog(parent), Channels(channels)
{
    setObjectName(QStringLiteral("TSetChnFrom"));
    setWindowTitle(QStringLiteral("线路参数设置"));

    auto *group = new QGroupBox(QStringLiteral("参数设定"), this);
    QStringList channelNumbers;
    for (int i = 1; i <= TPlayChannels::Count; ++i)
        channelNumbers << QString::number(i);
    channelNumbers << QString();
    QStringList lineNumbers;
    for (int n = 2001; n <= 2010; ++n)
        lineNumbers << QString::number(n);
    ChnNoBox = NewEditableList(channelNumbers, QStringLiteral("1"), QStringLiteral("ChnNoBox"), QString(), group);
    ChnNumberBox = NewEditableList(lineNumbers, QStringLiteral("2001"), QStringLiteral("ChnNumberBox"), QString(), group);
    ifUseBox = NewEditableList({QStringLiteral("是"), QStringLiteral("否")}, QStringLiteral("是"), QStringLiteral("ifUseBox"),
                               QString(), group);
    SpeakBox = NewEditableList({QStringLiteral("是"), QStringLiteral("否")}, QStringLiteral("否"), QStringLiteral("SpeakBox"),
                               QStringLiteral("播放文本的通知读出其文字（普通话）；否则放录音"), group);
    auto *form = new QFormLayout(group);
    form->addRow(QStringLiteral("通道号:"), ChnNoBox);
    form->addRow(QStringLiteral("线路号码:"), ChnNumberBox);
    form->addRow(QStringLiteral("是否启用:"), ifUseBox);
    form->addRow(QStringLiteral("播报文字内容:"), SpeakBox);

    ProblemLabel = NewProblemLabel(this);

    Button1 = new QPushButton(QStringLiteral("确定"), this);
    Button2 = new QPushButton(QStringLiteral("取消"), this);
    connect(Button1, &QPushButton::clicked, this, &TSetChnFrom::Confirm);
    connect(Button2, &QPushButton::clicked, this, [this] {
        Button1Tag = 0;
        reject();
    });
    connect(ChnNoBox, &QComboBox::editTextChanged, this, &TSetChnFrom::ChnNoBoxChange);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(ProblemLabel);
    layout->addLayout(buttons);
}

void TSetChnFrom::Confirm()
{
    const QString problem = TPlayChannels::ChannelNumberProblem(ChnNoBox->currentText());
    if (!problem.isEmpty()) {
        ProblemLabel->setText(problem);
        ProblemLabel->show();
        ChnNoBox->setFocus();
        ChnNoBox->lineEdit()->selectAll();
        return;
    }
    Button1Tag = 1;
    accept();
}

void TSetChnFrom::showEvent(QShowEvent *event)
{
    // Only the confirming button sets the answer; a close box or Esc leaves it at 0.
    Button1Tag = 0;
    ProblemLabel->hide();
    QDialog::showEvent(event);
}

void TSetChnFrom::Prepare()
{
    const QSignalBlocker quiet(ChnNoBox);
    if (!TPlayChannels::ChannelNumberProblem(ChnNoBox->currentText()).isEmpty())
        ChnNoBox->setEditText(QStringLiteral("1"));
    ChnNoBoxChange();
}

void TSetChnFrom::ChnNoBoxChange()
{
    int number = 0;
    ShowChannel(ParseDecimalInt(ChnNoBox->currentText(), &number) ? number : 0);
}

void TSetChnFrom::ShowChannel(int channelNumber)
{
    const int index = channelNumber - 1;
    if (index < 0 || index >= TPlayChannels::Count) {
        ChnNumberBox->setEditText(QString());
        return;
    }
    const TPlayChn &chn = Channels.Channel(index);
    ChnNumberBox->setEditText(chn.CallerNumber);
    ifUseBox->setEditText(chn.IfUse ? QStringLiteral("是") : QStringLiteral("否"));
    SpeakBox->setEditText(chn.SpeakText ? QStringLiteral("是") : QStringLiteral("否"));
}
