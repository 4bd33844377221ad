#pragma once

#include <QTableWidget>

class QLabel;
class TKeyboardDisplay;

// The keyboard's keys by name: Qt's headers are the fixed row ("module*column") and column (the
// key's row), so grid column g, grid row r is table cell (r - 1, g - 1). Its pop-up menu saves
// the key table and dials the selected key.
class TKeyGrid : public QTableWidget
{
    Q_OBJECT
public:
    TKeyGrid(TKeyboardDisplay &display, QWidget *parent = nullptr);

    // Headers and empty cells; then the names unless withNames is false.
    void ShowKeys(bool withNames);
    QString Cell(int gridColumn, int gridRow) const;
    void SelectCell(int gridColumn, int gridRow);
    int SelectedGridColumn() const { return currentColumn() + 1; }
    int SelectedGridRow() const { return currentRow() + 1; }

    QAction *SaveAction;
    QAction *DialAction;
    QLabel *Corner;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    TKeyboardDisplay &Display;
};
