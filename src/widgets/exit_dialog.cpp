#include "widgets/exit_dialog.h"

#include "widgets/messages.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

TExitForm::TExitForm(QWidget *parent) : TAnswerDialog(QStringLiteral("是"), QStringLiteral("否"), parent)
{
    setObjectName(QStringLiteral("TExitForm"));
    setWindowTitle(QStringLiteral("是否选择"));
    setFixedSize(std::max(291, TitleBarWidth(windowTitle())), 125);

    Label = new QLabel(this);
    Label->setAlignment(Qt::AlignCenter);
    Label->setWordWrap(true);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(21);
    font.setBold(true);
    Label->setFont(font);

    YesButton = OkButton;
    NoButton = CancelButton;
    for (QPushButton *b : {YesButton, NoButton})
        b->setFixedSize(83, 42);
    YesButton->setDefault(true);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label, 1);
    layout->addLayout(ButtonRow());
}

bool TExitForm::Ask(const QString &question, bool yesByDefault)
{
    Label->setText(question);
    YesByDefault = yesByDefault;
    exec();
    return Answer();
}

void TExitForm::showEvent(QShowEvent *event)
{
    TAnswerDialog::showEvent(event);
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + 130);
    }
    YesButton->setDefault(YesByDefault);
    NoButton->setDefault(!YesByDefault);
    (YesByDefault ? YesButton : NoButton)->setFocus();
}
