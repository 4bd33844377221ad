#include "keyboard/keyboard_display.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include "host_link/host_link.h"
#include "keyboard/key_table.h"
#include "common/configuration.h"
#include "common/settings_store.h"

#include <QSaveFile>
#include <QtEndian>

TKeyboardDisplay::TKeyboardDisplay(TConfiguration &config, TSettingsStore &store, TKeyTable &keys, THostLink &host,
                                   QString keyFile)
    : Config(config), Store(store), Keys(keys), Host(host), KeyFile(std::move(keyFile))
{
}

QString TKeyboardDisplay::HeaderText(int gridColumn)
{
    if (gridColumn == 0)
        return QStringLiteral("序 号");
    if (gridColumn < 1 || gridColumn > 128)
        return QString();
    return QStringLiteral("%1*%2").arg((gridColumn - 1) / 8).arg((gridColumn - 1) % 8);
}

QString TKeyboardDisplay::RowLabel(int gridRow)
{
    return gridRow >= 1 && gridRow <= 8 ? QString::number(gridRow - 1) : QString();
}

QString TKeyboardDisplay::CellText(int gridColumn, int gridRow) const
{
    if (gridColumn < 1 || gridColumn > 128 || gridRow < 1 || gridRow > 8)
        return QString();
    const int module = (gridColumn - 1) / 8;
    const int column = (gridColumn - 1) % 8;
    return TKeyTable::GetKeyName(Keys.Key(Config.CurrentKeyboard, module, column, gridRow - 1));
}

QPoint TKeyboardDisplay::FindKey(const QString &text, int afterColumn, int afterRow) const
{
    const QString wanted = text.trimmed();
    if (wanted.isEmpty())
        return {};
    static constexpr int Rows = GridRows - 1, Cells = (GridColumns - 2) * Rows; // 128 columns of 8 keys
    const int after = std::clamp(afterColumn - 1, -1, GridColumns - 3) * Rows + std::clamp(afterRow - 1, 0, Rows - 1);
    for (int step = 1; step <= Cells; ++step) {
        const int cell = ((after + step) % Cells + Cells) % Cells;
        const int gridColumn = cell / Rows + 1, gridRow = cell % Rows + 1;
        if (CellText(gridColumn, gridRow).contains(wanted, Qt::CaseInsensitive))
            return {gridColumn, gridRow};
    }
    return {};
}

QString TKeyboardDisplay::ChooseKeyboard(const QString &text)
{
    int keyboard = 0;
    if (!ParseDecimalInt(text, &keyboard) || keyboard < 0 || keyboard >= TKeyTable::Keyboards)
        return QStringLiteral("键盘号 \"%1\" 无效：key.dat 只有 0 到 7 号键盘。").arg(text);
    QString why;
    Store.Open();
    if (!Store.Write(QStringLiteral("CurrentKeyboard"), QString::number(keyboard), &why))
        return QStringLiteral("未能保存键盘号: %1").arg(why);
    Config.CurrentKeyboard = keyboard;
    return QString();
}

QString TKeyboardDisplay::ShowableProblem() const
{
    if (Config.CurrentKeyboard >= 0 && Config.CurrentKeyboard < TKeyTable::Keyboards)
        return QString();
    return QStringLiteral("当前键盘号 %1 不在 0 到 7 之间，无法显示。").arg(Config.CurrentKeyboard);
}

QString TKeyboardDisplay::Load()
{
    QString why;
    return Keys.Load(KeyFile, &why) ? QString() : QStringLiteral("不能打开 %1: %2").arg(QDir::toNativeSeparators(QFileInfo(KeyFile).absoluteFilePath()), why);
}

QString TKeyboardDisplay::Save()
{
    QString why;
    Store.Open();
    if (!Store.Write(QStringLiteral("CurrentKeyboard"), QString::number(Config.CurrentKeyboard), &why))
        return QStringLiteral("未能保存键盘号: %1").arg(why);
    QByteArray bytes(TKeyTable::FileSize, Qt::Uninitialized);
    for (size_t i = 0; i < Keys.KeyTable.size(); ++i)
        qToLittleEndian<int32_t>(Keys.KeyTable[i], bytes.data() + i * 4);
    QSaveFile file(KeyFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("不能写入 %1: %2").arg(KeyFile, file.errorString());
    return QString();
}

bool TKeyboardDisplay::Dial(int gridColumn, int gridRow)
{
    if (gridColumn < 1 || gridRow < 1 || gridRow > 8)
        return false;
    const int n = (gridColumn - 1) * 8 + (gridRow - 1);
    if (n >= TKeyTable::SearchedKeys)
        return false;
    Host.SendData(n / 64, (n % 64) / 8, n % 8);
    return true;
}
