#include "widgets/problem_label.h"

#include <QLabel>

QLabel *NewProblemLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QStringLiteral("ProblemLabel"));
    label->setWordWrap(true);
    QPalette red = label->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(red);
    label->hide();
    return label;
}
