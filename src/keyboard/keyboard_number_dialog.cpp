#include "keyboard/keyboard_number_dialog.h"

#include "keyboard/key_table.h"
#include "shell/editable_list.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

Teditfrom::Teditfrom(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Teditfrom"));
    setWindowTitle(QStringLiteral("安检联网键盘号设置"));
    resize(313, 195);
    QStringList keyboards;
    for (int k = 0; k < TKeyTable::Keyboards; ++k)
        keyboards << QString::number(k);
    KeyboardBox = NewEditableList(keyboards, QString(), QStringLiteral("KeyboardBox"), QString(), this);
    KeyboardBox->setFixedWidth(145);
    OkButton = new QPushButton(QStringLiteral("确 定"), this);
    CancelButton = new QPushButton(QStringLiteral("取 消"), this);
    for (QPushButton *b : {OkButton, CancelButton})
        b->setFixedSize(75, 25);
    connect(OkButton, &QPushButton::clicked, this, [this] {
        if (KeyboardBox->currentText().isEmpty())
            return;
        Confirmed = true;
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(new QLabel(QStringLiteral("键盘号"), this));
    row->addWidget(KeyboardBox);
    row->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addLayout(row);
    layout->addStretch();
    layout->addLayout(buttons);
}

void Teditfrom::showEvent(QShowEvent *event)
{
    Confirmed = false;
    QDialog::showEvent(event);
}
