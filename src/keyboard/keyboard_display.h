#pragma once

#include <QPoint>
#include <QString>

struct TConfiguration;
class THostLink;
class TKeyTable;
class TSettingsStore;

// What the key grid shows and does: the current keyboard's keys by name in grid columns 1 to
// 128 ("module*column") and rows 1 to 8 (the key's row), saving the key table, and pressing the
// key of a grid cell on the switch.
class TKeyboardDisplay
{
public:
    static constexpr int GridColumns = 130; // the fixed column, 128 key columns, one spare
    static constexpr int GridRows = 9;      // the fixed row and the rows 0 to 7

    TKeyboardDisplay(TConfiguration &config, TSettingsStore &store, TKeyTable &keys, THostLink &host, QString keyFile);

    static QString Title() { return QStringLiteral("  键   盘   数   据   设   置"); }
    static QString HeaderText(int gridColumn);
    static QString RowLabel(int gridRow);
    QString CellText(int gridColumn, int gridRow) const;
    // The next key after (afterColumn, afterRow), module by module and row by row within a
    // column, whose name contains text; wraps round. {0, 0} when no key has it.
    QPoint FindKey(const QString &text, int afterColumn = 0, int afterRow = 8) const;

    // The keyboard confirmed in the dialog: 0 to 7, the keyboards key.dat holds. Empty when
    // taken (and stored), else why it was refused; nothing changes then.
    QString ChooseKeyboard(const QString &text);
    // Empty when the current keyboard can be shown, else why not.
    QString ShowableProblem() const;
    // Reads key.dat; empty on success, else why it could not be read.
    QString Load();
    // Stores the keyboard choice, then writes the whole key table to key.dat (never half a file).
    QString Save();
    // Presses the key of a grid cell; false for the spare column or outside the grid.
    bool Dial(int gridColumn, int gridRow);

private:
    TConfiguration &Config;
    TSettingsStore &Store;
    TKeyTable &Keys;
    THostLink &Host;
    QString KeyFile;
};
