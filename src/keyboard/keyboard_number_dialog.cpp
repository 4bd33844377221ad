#include "keyboard/keyboard_number_dialog.h"

#include "keyboard/key_table.h"
#include "widgets/editable_list.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

Teditfrom::Teditfrom(QWidget *parent) : TAnswerDialog(QStringLiteral("确 定"), QStringLiteral("取 消"), parent)
{
    setObjectName(QStringLiteral("Teditfrom"));
    setWindowTitle(QStringLiteral("安检联网键盘号设置"));
    resize(313, 195);
    QStringList keyboards;
    for (int k = 0; k < TKeyTable::Keyboards; ++k)
        keyboards << QString::number(k);
    KeyboardBox = NewEditableList(keyboards, QString(), QStringLiteral("KeyboardBox"), QString(), this);
    KeyboardBox->setFixedWidth(145);
    for (QPushButton *b : {OkButton, CancelButton})
        b->setFixedSize(75, 25);

    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(new QLabel(QStringLiteral("键盘号"), this));
    row->addWidget(KeyboardBox);
    row->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addLayout(row);
    layout->addStretch();
    layout->addLayout(ButtonRow());
}

bool Teditfrom::CanConfirm()
{
    return !KeyboardBox->currentText().isEmpty();
}
