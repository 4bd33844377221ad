#include "keyboard/key_grid.h"

#include "keyboard/keyboard_display.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>

TKeyGrid::TKeyGrid(TKeyboardDisplay &display, QWidget *parent)
    : QTableWidget(TKeyboardDisplay::GridRows - 1, TKeyboardDisplay::GridColumns - 1, parent), Display(display)
{
    setObjectName(QStringLiteral("table"));
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(14);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
    setPalette(palette);
    horizontalHeader()->setDefaultSectionSize(62);
    setCornerButtonEnabled(false);
    verticalHeader()->setMinimumWidth(48);
    Corner = new QLabel(TKeyboardDisplay::HeaderText(0), this);
    Corner->setAlignment(Qt::AlignCenter);

    SaveAction = new QAction(QStringLiteral("存盘"), this);
    DialAction = new QAction(QStringLiteral("拨打"), this);
    addAction(SaveAction);
    addAction(DialAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void TKeyGrid::ShowKeys(bool withNames)
{
    QStringList headers, rows;
    for (int g = 1; g < TKeyboardDisplay::GridColumns; ++g)
        headers << TKeyboardDisplay::HeaderText(g);
    for (int r = 1; r < TKeyboardDisplay::GridRows; ++r)
        rows << TKeyboardDisplay::RowLabel(r);
    setHorizontalHeaderLabels(headers);
    setVerticalHeaderLabels(rows);
    for (int r = 1; r < TKeyboardDisplay::GridRows; ++r)
        for (int g = 1; g < TKeyboardDisplay::GridColumns; ++g)
            setItem(r - 1, g - 1, new QTableWidgetItem(withNames ? Display.CellText(g, r) : QString()));
}

QString TKeyGrid::Cell(int gridColumn, int gridRow) const
{
    const QTableWidgetItem *cell = item(gridRow - 1, gridColumn - 1);
    return cell ? cell->text() : QString();
}

void TKeyGrid::SelectCell(int gridColumn, int gridRow)
{
    setCurrentCell(gridRow - 1, gridColumn - 1);
}

void TKeyGrid::resizeEvent(QResizeEvent *event)
{
    QTableWidget::resizeEvent(event);
    Corner->setGeometry(frameWidth(), frameWidth(), verticalHeader()->width(), horizontalHeader()->height());
}
