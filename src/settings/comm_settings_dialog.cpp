#include "settings/comm_settings_dialog.h"

#include "widgets/editable_list.h"
#include "widgets/problem_label.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QApplication>

#include <algorithm>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

Tdialogform::Tdialogform(QWidget *parent) : TAnswerDialog(QStringLiteral("确 定"), QStringLiteral("取 消"), parent)
{
    setObjectName(QStringLiteral("Tdialogform"));
    resize(344, 285);
    QFont labelFont(QStringLiteral("宋体"));
    labelFont.setPixelSize(15);
    QFont fieldFont(QStringLiteral("宋体"));
    fieldFont.setPixelSize(13);
    fieldFont.setBold(true);

    auto *grid = new QGridLayout;
    for (int row = 0; row < TCommSettings::Rows; ++row) {
        auto *label = new QLabel(this);
        label->setFont(labelFont);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, QColor(0, 0, 0x80));
        label->setPalette(palette);
        auto *field = NewEditableList({}, QString(), QStringLiteral("Field%1").arg(row + 1), QString(), this);
        field->setFixedWidth(145);
        field->setFont(fieldFont);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        Labels << label;
        Fields << field;
    }
    ProblemLabel = NewProblemLabel(this);
    for (QPushButton *b : {OkButton, CancelButton})
        b->setFixedSize(75, 25);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(ProblemLabel);
    layout->addLayout(ButtonRow());
}

bool Tdialogform::CanConfirm()
{
    const TCommSettings::TProblem problem = TCommSettings::Check(Side, Texts());
    Mark(problem.Row);
    if (problem.Row < 0)
        return true;
    ProblemLabel->setText(problem.Text);
    ProblemLabel->show();
    Fields[problem.Row]->setFocus();
    Fields[problem.Row]->lineEdit()->selectAll();
    return false;
}

void Tdialogform::Mark(int row)
{
    Marked = row;
    for (int i = 0; i < Fields.size(); ++i) {
        QLineEdit *edit = Fields[i]->lineEdit();
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, i == row ? QColor(0xFF, 0xD0, 0xD0) : QApplication::palette(edit).color(QPalette::Base));
        edit->setPalette(palette);
    }
    if (row < 0)
        ProblemLabel->hide();
}

void Tdialogform::Fill(const TCommSettings::TForm &form)
{
    setWindowTitle(form.Title);
    Side = form.Side;
    Mark(-1);
    for (int row = 0; row < TCommSettings::Rows; ++row) {
        Labels[row]->setText(form.Labels.value(row));
        Labels[row]->setVisible(true);
        Fields[row]->clear();
        Fields[row]->addItems(form.Entries.value(row));
        Fields[row]->setEditText(form.Texts.value(row));
        Fields[row]->setVisible(true);
        // At least the design width, and as wide as the longest entry ("CRC-16/MODBUS" in bold).
        int widest = 0;
        for (const QString &text : form.Entries.value(row) + QStringList{form.Texts.value(row)})
            widest = std::max(widest, Fields[row]->fontMetrics().horizontalAdvance(text));
        Fields[row]->setFixedWidth(std::max(145, widest + 40));
    }
}

QStringList Tdialogform::Texts() const
{
    QStringList texts;
    for (const QComboBox *field : Fields)
        texts << field->currentText();
    return texts;
}
