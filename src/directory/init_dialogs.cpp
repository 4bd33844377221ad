#include "directory/init_dialogs.h"

#include "widgets/editable_list.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TInitRunDialog::TInitRunDialog(bool forGroups, QWidget *parent)
    : TAnswerDialog(QStringLiteral("确定"), QStringLiteral("取消"), parent)
{
    setObjectName(forGroups ? QStringLiteral("TInitGroupFrom") : QStringLiteral("Tinituserfrm"));
    setWindowTitle(forGroups ? QStringLiteral("初始化组") : QStringLiteral("初始化用户参数"));
    auto *frame = new QGroupBox(QStringLiteral("参数设定"), this);
    auto *form = new QFormLayout(frame);
    const auto list = [frame](const QStringList &items, const QString &text, const char *name, const QString &hint = {}) {
        return NewEditableList(items, text, QString::fromLatin1(name), hint, frame);
    };
    QStringList firstGroups, groups;
    for (int g = 1; g <= 10; ++g)
        firstGroups << QString::number(g);
    for (int g = 1; g <= 8; ++g)
        groups << QString::number(g);
    if (forGroups) {
        startNum = list(firstGroups, QStringLiteral("1"), "startNum");
        form->addRow(QStringLiteral("起始组号"), startNum);
    } else {
        startNum = list({"2001", "500", "600"}, QStringLiteral("2001"), "startNum");
        form->addRow(QStringLiteral("起始号码"), startNum);
    }
    StartPos = list({"1", "100", "200"}, QStringLiteral("1"), "StartPos");
    form->addRow(QStringLiteral("开始位置"), StartPos);
    ifRepairName = list({QStringLiteral("是"), QStringLiteral("否")}, QStringLiteral("是"), "ifRepairName");
    form->addRow(QStringLiteral("名称修改"), ifRepairName);
    if (!forGroups) {
        group = list(groups, QStringLiteral("1"), "group");
        form->addRow(QStringLiteral("所属组别"), group);
        status = list({"0", "1", ""}, QStringLiteral("0"), "status", QStringLiteral("0-正常 1-故障"));
        form->addRow(QStringLiteral("状态"), status);
    }
    Msg = new QLineEdit(QStringLiteral("井下电话"), frame);
    Msg->setObjectName(QStringLiteral("Msg"));
    form->addRow(QStringLiteral("备注"), Msg);
    len = list({"10", "50", "100", "200", "500", "1000"}, QStringLiteral("100"), "len");
    form->addRow(QStringLiteral("长度"), len);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(ButtonRow());
}

TTelBook::TRun TInitRunDialog::Run() const
{
    TTelBook::TRun run;
    run.StartNum = startNum->currentText();
    run.StartPos = StartPos->currentText();
    run.RepairName = ifRepairName->currentText();
    run.Group = group ? group->currentText() : QString();
    run.Status = status ? status->currentText() : QString();
    run.Msg = Msg->text();
    run.Len = len->currentText();
    return run;
}
