#include "app/directory_commands.h"

#include "common/configuration.h"
#include "common/line_log.h"
#include "common/settings_store.h"
#include "directory/directory.h"
#include "directory/directory_store.h"
#include "directory/live_query.h"
#include "directory/number_import.h"
#include "directory/sheet_export.h"
#include "keyboard/key_table.h"

#include <QDate>
#include <QLocale>
#include <QSet>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

void Say(const QString &text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

bool OnTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(fileno(stderr));
#else
    return false;
#endif
}

// The directory of dataDir, with a message when it cannot be opened.
struct TOpened
{
    TDM Store;
    TLineLog Log;
    TDirectory Directory{Store, Log};
    bool Ok = false;

    explicit TOpened(const QString &dataDir)
    {
        QString why;
        Ok = Store.Prepare(dataDir, &why);
        if (!Ok)
            Say(QStringLiteral("电话号码库不可用: ") + why);
    }
    // Every extension in sequence order into list; false (and the reason said) when not listed.
    bool ListExtensions(TLiveQuery &list, const QString &failure)
    {
        if (Ok && list.Open(QStringLiteral("TelNumber"), QString(), {}, QStringLiteral("sequence asc")))
            return true;
        if (Ok)
            Say(failure + list.LastError());
        return false;
    }
};

} // namespace

namespace TDirectoryCommands {

int Import(const QString &dataDir, const QString &file, const QString &label)
{
    TOpened opened(dataDir);
    if (!opened.Ok)
        return 1;
    TNumberImport import(opened.Directory, opened.Store);
    const bool progress = OnTerminal();
    const auto outcome = import.Run(file,
                                    label.isEmpty() ? QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat)
                                                    : label,
                                    [progress](int done, int total) {
                                        if (progress && (done % 500 == 0 || done == total))
                                            std::fprintf(stderr, "\r导入数量:%d/%d", done, total);
                                    });
    if (progress && outcome.Rows > 0)
        std::fprintf(stderr, "\n");
    Say(outcome.Message() + (outcome.Error.isEmpty() ? QStringLiteral(" (%1)").arg(outcome.Imported) : QString()));
    return outcome.Error.isEmpty() && outcome.Refused == 0 ? 0 : 1;
}

int Export(const QString &dataDir, const QString &file)
{
    TOpened opened(dataDir);
    TLiveQuery list(opened.Store.Connection());
    if (!opened.ListExtensions(list, QStringLiteral("导出数据出错！")))
        return 1;
    const QString path = TSheetExport::WithExtension(file);
    const QString error = TSheetExport::Write(list, path);
    if (!error.isEmpty()) {
        Say(TSheetExport::FailureText(error));
        return 1;
    }
    Say(QStringLiteral("EXCEL数据导出成功! %1 (%2)").arg(path, QString::number(list.RecordCount())));
    return 0;
}

int CheckKeys(const QString &dataDir, const QString &keyFile, const QString &settingsFile)
{
    TSettingsStore settings(settingsFile);
    settings.Open();
    TConfiguration config;
    QStringList errors;
    config.ReadKeyboard(settings, errors);
    for (const QString &error : errors)
        Say(error);
    TKeyTable keys;
    QString why;
    if (!keys.Load(keyFile, &why)) {
        Say(QStringLiteral("未能读取键位数据 %1: %2").arg(keyFile, why));
        return 1;
    }
    const int keyboard = config.CurrentKeyboard;
    if (keyboard < 0 || keyboard >= TKeyTable::Keyboards) {
        Say(QStringLiteral("当前键盘号 %1 不在 0 到 7 之间。").arg(keyboard));
        return 1;
    }
    TOpened opened(dataDir);
    TLiveQuery list(opened.Store.Connection());
    if (!opened.ListExtensions(list, QStringLiteral("电话号码库不可用: ")))
        return 1;
    QSet<int> numbers;
    int keyless = 0;
    for (list.First(); !list.Eof(); list.Next()) {
        const int number = list.Value(QStringLiteral("TelNum")).toInt();
        numbers.insert(number);
        if (!keys.findkeycode(number, keyboard)) {
            ++keyless;
            Say(QStringLiteral("无键位: %1 %2").arg(QString::number(number), list.Value(QStringLiteral("TelName")).toString()));
        }
    }
    int unknown = 0;
    for (int position = 0; position < TKeyTable::SearchedKeys; ++position) {
        const int module = position / 64, column = position % 64 / 8, row = position % 8;
        const int32_t value = keys.Key(keyboard, module, column, row);
        // Number keys only: empty slots, function keys, trunks and networked users have names.
        if (value == 0 || TKeyTable::GetKeyName(value) != QString::number(value) || numbers.contains(value))
            continue;
        ++unknown;
        Say(QStringLiteral("不在电话号码库中: 键位 %1*%2 行%3 号码 %4")
                .arg(QString::number(module), QString::number(column), QString::number(row), QString::number(value)));
    }
    Say(QStringLiteral("键盘 %1: %2 个分机无键位，%3 个键位的号码不在电话号码库中。")
            .arg(QString::number(keyboard), QString::number(keyless), QString::number(unknown)));
    return 0;
}

} // namespace TDirectoryCommands
