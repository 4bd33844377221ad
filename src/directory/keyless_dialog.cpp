#include "directory/keyless_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TKeylessDialog::TKeylessDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("KeylessDialog"));
    setWindowTitle(QStringLiteral("无键位分机"));
    resize(420, 480);

    Summary = new QLabel(this);
    Summary->setWordWrap(true);
    List = new QPlainTextEdit(this);
    List->setObjectName(QStringLiteral("KeylessList"));
    List->setReadOnly(true);
    List->setLineWrapMode(QPlainTextEdit::NoWrap);
    CloseButton = new QPushButton(QStringLiteral("关闭"), this);
    CloseButton->setDefault(true);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CloseButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Summary);
    layout->addWidget(List, 1);
    layout->addLayout(buttons);
}

QString TKeylessDialog::SummaryText(int keyboard, int count)
{
    return count == 0 ? QStringLiteral("电话号码库中每个分机在当前键盘（键盘号 %1）上都有键位。").arg(keyboard)
                      : QStringLiteral("当前键盘（键盘号 %1）上没有键位的分机共 %2 个：").arg(keyboard).arg(count);
}

void TKeylessDialog::Show(int keyboard, const QStringList &keyless)
{
    Summary->setText(SummaryText(keyboard, int(keyless.size())));
    List->setPlainText(keyless.join(QLatin1Char('\n')));
    List->setVisible(!keyless.isEmpty());
    open();
    CloseButton->setFocus();
}
