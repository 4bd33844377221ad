#include "shell/exit_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TExitForm::TExitForm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TExitForm"));
    setWindowTitle(QStringLiteral("是否选择"));
    setFixedSize(291, 125);

    Label = new QLabel(this);
    Label->setAlignment(Qt::AlignCenter);
    Label->setWordWrap(true);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(21);
    font.setBold(true);
    Label->setFont(font);

    YesButton = new QPushButton(QStringLiteral("是"), this);
    NoButton = new QPushButton(QStringLiteral("否"), this);
    for (QPushButton *b : {YesButton, NoButton})
        b->setFixedSize(83, 42);
    YesButton->setDefault(true);
    connect(YesButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(NoButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, [this](int result) { Answered = result == QDialog::Accepted; });

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(YesButton);
    buttons->addSpacing(30);
    buttons->addWidget(NoButton);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label, 1);
    layout->addLayout(buttons);
}

bool TExitForm::Ask(const QString &question)
{
    Label->setText(question);
    Answered = false;
    exec();
    return Answered;
}

void TExitForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + 130);
    }
    YesButton->setFocus();
}
