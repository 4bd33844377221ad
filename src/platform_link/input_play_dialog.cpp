#include "platform_link/input_play_dialog.h"

#include "widgets/editable_list.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TInputPlayFrom::TInputPlayFrom(QWidget *parent) : TAnswerDialog(QStringLiteral("确定"), QStringLiteral("取消"), parent)
{
    setObjectName(QStringLiteral("TInputPlayFrom"));
    setWindowTitle(QStringLiteral("初始化用户参数"));

    auto *group = new QGroupBox(QStringLiteral("参数设定"), this);
    QStringList targets;
    for (int i = 1; i <= 8; ++i)
        targets << QString::number(i);
    for (int n = 2001; n <= 2010; ++n)
        targets << QString::number(n);
    targets << QString();
    PlayTypeBox = NewEditableList({"0", "1", ""}, QStringLiteral("0"), QStringLiteral("PlayTypeBox"),
                                  QStringLiteral("0：分组拨打1：指定号码"), group);
    GroupOrNumberBox = NewEditableList(targets, QStringLiteral("1"), QStringLiteral("GroupOrNumberBox"), QString(), group);
    PlayTxtTypeBox = NewEditableList({"0", "1", "2", ""}, QStringLiteral("2"), QStringLiteral("PlayTxtTypeBox"),
                                     QStringLiteral("0:语音文件 1:播预案 2:播文字"), group);
    PlayTimesBox = NewEditableList({"1", "2", "3", "4", "5", "6"}, QStringLiteral("1"), QStringLiteral("PlayTimesBox"),
                                   QString(), group);
    PlayTxtEdit = new QLineEdit(QStringLiteral("瓦斯监测联动测试，请挂机"), group);
    PlayTxtEdit->setObjectName(QStringLiteral("PlayTxtEdit"));

    auto *grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("播放类型:"), group), 0, 0);
    grid->addWidget(PlayTypeBox, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("0:组呼，1:单呼"), group), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("组号或号码:"), group), 1, 0);
    grid->addWidget(GroupOrNumberBox, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("播放方式:"), group), 2, 0);
    grid->addWidget(PlayTxtTypeBox, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("0:文件,1:预案,2:文本"), group), 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("播报次数:"), group), 3, 0);
    grid->addWidget(PlayTimesBox, 3, 1);
    grid->addWidget(PlayTxtEdit, 4, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("文本或文件名或预案号"), group), 5, 0, 1, 3);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(ButtonRow());
}
