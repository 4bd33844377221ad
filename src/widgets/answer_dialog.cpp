#include "widgets/answer_dialog.h"

#include <QHBoxLayout>
#include <QPushButton>

TAnswerDialog::TAnswerDialog(const QString &okCaption, const QString &cancelCaption, QWidget *parent,
                             Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    OkButton = new QPushButton(okCaption, this);
    CancelButton = new QPushButton(cancelCaption, this);
    connect(OkButton, &QPushButton::clicked, this, [this] {
        if (!CanConfirm())
            return;
        Confirmed = true;
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

QHBoxLayout *TAnswerDialog::ButtonRow()
{
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(OkButton);
    row->addWidget(CancelButton);
    row->addStretch();
    return row;
}

void TAnswerDialog::showEvent(QShowEvent *event)
{
    Confirmed = false;
    QDialog::showEvent(event);
}
