#include "widgets/answer_dialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
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
    // Typing goes into the first field at every showing, wherever the cursor was the last time
    // (the settings dialog serves both links); Enter then confirms what was typed, not the old
    // value. A dialog without fields keeps its button's focus.
    for (QWidget *w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (qobject_cast<QAbstractButton *>(w) || !(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(this)
            || !w->isEnabled())
            continue;
        w->setFocus(Qt::TabFocusReason);
        auto *edit = qobject_cast<QLineEdit *>(w->focusProxy() ? w->focusProxy() : w);
        if (!edit)
            if (auto *box = qobject_cast<QComboBox *>(w))
                edit = box->lineEdit();
        if (edit)
            edit->selectAll();
        break;
    }
}
