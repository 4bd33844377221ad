#include "settings/comm_settings_dialog.h"

#include "widgets/editable_list.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
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
    for (QPushButton *b : {OkButton, CancelButton})
        b->setFixedSize(75, 25);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(ButtonRow());
}

bool Tdialogform::CanConfirm() const
{
    return !Fields[0]->currentText().isEmpty();
}

void Tdialogform::Fill(const TCommSettings::TForm &form)
{
    setWindowTitle(form.Title);
    for (int row = 0; row < TCommSettings::Rows; ++row) {
        Labels[row]->setText(form.Labels.value(row));
        Labels[row]->setVisible(true);
        Fields[row]->clear();
        Fields[row]->addItems(form.Entries.value(row));
        Fields[row]->setEditText(form.Texts.value(row));
        Fields[row]->setVisible(true);
    }
}

QStringList Tdialogform::Texts() const
{
    QStringList texts;
    for (const QComboBox *field : Fields)
        texts << field->currentText();
    return texts;
}
