#include "cli/directory_commands.h"

#include "cli/command_line.h"
#include "cli/store_migration.h"

#include "common/configuration.h"
#include "common/line_log.h"
#include "common/settings_store.h"
#include "common/text_cut.h"
#include "common/trace_sink.h"
#include "directory/directory.h"
#include "directory/directory_store.h"
#include "directory/live_query.h"
#include "directory/number_import.h"
#include "directory/sheet_export.h"
#include "directory/tel_book.h"
#include "keyboard/key_table.h"

#include <QDate>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QFileInfo>
#include <QSet>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// text as a terminal may show it: a control character (from a file's cells, say) would move
// the cursor or change colours, so it is shown as its code instead.
QString Printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const bool pair = c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        if (pair) {
            shown += c;
            shown += text[++i];
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\t')
                   || (c.category() != QChar::Other_Control && !c.isSurrogate())) {
            shown += c;
        } else {
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        }
    }
    return shown;
}

void Write(FILE *stream, const QString &text)
{
    const QByteArray bytes = (Printable(text) + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void Say(const QString &text)
{
    Write(stderr, text);
}

bool OnTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(fileno(stderr));
#else
    return false;
#endif
}

// The directory of a place, with a message when it cannot be opened.
struct TOpened
{
    TDM Store;
    TLineLog Log;
    TDirectory Directory{Store, Log};
    bool Ok = false;

    explicit TOpened(const TDirectoryCommands::TStorePlace &place)
    {
        QString why;
        // The program makes the tables only with the DATA/ folder; a command that writes into a
        // folder made by hand, with no file yet, makes them in the file it makes (else it would
        // leave an empty file and fail on its first statement).
        const bool newFile = !place.Url.IsServer() && QFileInfo(TDM::FileIn(place.DataDir)).absoluteDir().exists()
                             && !QFileInfo::exists(TDM::FileIn(place.DataDir));
        Ok = Store.Prepare(place.DataDir, &why, place.Url);
        if (!Ok) {
            Say(QStringLiteral("电话号码库不可用: ") + why);
            return;
        }
        if (newFile) {
            QSqlQuery make(QSqlDatabase::database(Store.Connection()));
            for (const QString &statement : {TDM::CreateTelNumber(), TDM::CreateGroup(), TDM::CreateTelNumIndex()})
                if (!make.exec(statement))
                    Say(QStringLiteral("电话号码库 %1 的表未能建立：%2").arg(QDir::toNativeSeparators(TDM::FileIn(place.DataDir)), TDM::Explain(make.lastError())));
        }
        // As the program does at start: the old system's file has no index on the number, and
        // an import looks every number up (without it, 120,000 rows take minutes, not seconds).
        if (const QString problem = Store.EnsureIndexes(); !problem.isEmpty())
            Say(QStringLiteral("电话号码库的号码索引未能建立，查找号码会较慢: ") + problem);
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

int Run(const TCommandLine &line, const QString &dataDir, const QString &settingsFile, const QString &keyFile)
{
    Say(QStringLiteral("数据文件夹 %1，设置文件 %2")
            .arg(QDir::toNativeSeparators(dataDir),
                 QDir::toNativeSeparators(settingsFile.isEmpty() ? TSettingsStore::DefaultPath() : settingsFile)));
    if (line.Command == QLatin1String("migrate"))
        return Migrate(dataDir, line.MigrateFrom, line.MigrateTo, line.Append);
    // A command that only reads must not make an empty directory and report 0 rows from it.
    const bool checks = line.Command == QLatin1String("check-keys");
    TStorePlace place{dataDir, {}};
    TSettingsStore settings(settingsFile);
    settings.Open();
    const QString address = line.DatabaseGiven ? line.Database : settings.Read(TConfiguration::DatabaseUrlKey());
    QString why;
    if (!TStoreUrl::Parse(address, &place.Url, &why)) {
        Say(why);
        return checks ? 2 : 1;
    }
    if (place.Url.IsServer())
        Say(QStringLiteral("电话号码库在数据库服务器 %1").arg(place.Url.Shown()));
    if ((checks || line.Command == QLatin1String("export")) && !place.Url.IsServer() && !QFileInfo::exists(TDM::FileIn(dataDir))) {
        Say(QStringLiteral("数据文件夹 %1 中没有电话号码库 (%2)：请用 --data-dir 指定程序使用的数据文件夹。")
                .arg(QDir::toNativeSeparators(dataDir), QDir::toNativeSeparators(TDM::FileIn(dataDir))));
        return checks ? 2 : 1; // check-keys: 2 is "could not check"
    }
    if (line.Command == QLatin1String("import"))
        return Import(place, line.File, line.Label);
    if (line.Command == QLatin1String("export"))
        return Export(place, line.File, line.Force);
    if (checks)
        return CheckKeys(place, keyFile, settingsFile);
    return InitGroups(place, line.GroupsFrom, line.GroupsTo);
}

int Migrate(const QString &dataDir, const QString &from, const QString &to, bool append)
{
    TStoreUrl fromUrl;
    TStoreUrl toUrl;
    QString why;
    if (!TStoreUrl::Parse(from, &fromUrl, &why) || !TStoreUrl::Parse(to, &toUrl, &why)) {
        Say(why);
        return 2;
    }
    Say(QStringLiteral("迁移：从 %1 到 %2").arg(fromUrl.IsServer() ? fromUrl.Shown() : QStringLiteral("本机文件"),
                                           toUrl.IsServer() ? toUrl.Shown() : QStringLiteral("本机文件")));
    TStoreMigration migration(dataDir, fromUrl, toUrl, append);
    const QString failed = migration.Run();
    if (!failed.isEmpty()) {
        Say(failed);
        return 1;
    }
    Say(QStringLiteral("迁移成功：%1。目标现有 %2。").arg(migration.Copied().Text(), migration.Target().Text()));
    return 0;
}

int Import(const TStorePlace &place, const QString &file, const QString &label)
{
    // The column would keep only the label's start: a label typed here is refused instead.
    if (CutToGbkBytes(label, TNumberImport::LabelBytes) != label) {
        Say(QStringLiteral("标注 \"%1\" 太长：最多 %2 个字节（%3 个汉字），未导入任何记录。")
                .arg(label, QString::number(TNumberImport::LabelBytes), QString::number(TNumberImport::LabelBytes / 2)));
        return 1;
    }
    TOpened opened(place);
    if (!opened.Ok)
        return 1;
    TNumberImport import(opened.Directory, opened.Store);
    const bool progress = OnTerminal();
    // The same date whatever the locale, and one that fits the label's column.
    const auto outcome = import.Run(file, label.isEmpty() ? QDate::currentDate().toString(Qt::ISODate) : label,
                                    [progress](int done, int total) {
                                        if (progress && (done % 500 == 0 || done == total))
                                            std::fprintf(stderr, "\r导入数量:%d/%d", done, total);
                                    });
    if (progress && outcome.Rows > 0)
        std::fprintf(stderr, "\n");
    Say(outcome.Message() + (outcome.Error.isEmpty() ? QStringLiteral(" (%1)").arg(outcome.Imported) : QString()));
    return outcome.Error.isEmpty() && outcome.Refused == 0 ? 0 : 1;
}

int Export(const TStorePlace &place, const QString &file, bool force)
{
    QString refused;
    const QString path = TSheetExport::TargetOf(file, &refused);
    if (path.isEmpty()) {
        Say(QStringLiteral("导出数据出错！") + refused);
        return 1;
    }
    const QFileInfo target(path);
    if (target.isDir()) {
        Say(QStringLiteral("导出数据出错！%1 是一个文件夹，不能写成文件。").arg(path));
        return 1;
    }
    if (target.exists() && !force) {
        Say(QStringLiteral("导出数据出错！文件 %1 已存在，未改动；要替换它请加 --force。").arg(path));
        return 1;
    }
    TOpened opened(place);
    TLiveQuery list(opened.Store.Connection());
    if (!opened.ListExtensions(list, QStringLiteral("导出数据出错！")))
        return 1;
    const QString error = TSheetExport::Write(list, path);
    if (!error.isEmpty()) {
        Say(TSheetExport::FailureText(error));
        return 1;
    }
    Say(QStringLiteral("%1数据导出成功! %2 (%3)")
            .arg(TSheetExport::IsCsv(path) ? QStringLiteral("CSV") : QStringLiteral("EXCEL"), path,
                 QString::number(list.RecordCount())));
    return 0;
}

int CheckKeys(const TStorePlace &place, const QString &keyFile, const QString &settingsFile)
{
    TSettingsStore settings(settingsFile);
    settings.Open();
    TConfiguration config;
    QStringList errors;
    config.ReadKeyboard(settings, errors);
    for (const QString &error : errors)
        Say(error);
    // Like other checkers: 1 says what was checked is wrong, 2 that it could not be checked.
    constexpr int CannotCheck = 2;
    TKeyTable keys;
    QString why;
    if (!keys.Load(keyFile, &why)) {
        Say(QStringLiteral("未能读取键位数据 %1（%2）").arg(keyFile, why));
        return CannotCheck;
    }
    const int keyboard = config.CurrentKeyboard;
    if (keyboard < 0 || keyboard >= TKeyTable::Keyboards) {
        Say(QStringLiteral("当前键盘号 %1 不在 0 到 7 之间。").arg(keyboard));
        return CannotCheck;
    }
    TOpened opened(place);
    TLiveQuery list(opened.Store.Connection());
    if (!opened.ListExtensions(list, QStringLiteral("电话号码库不可用: ")))
        return CannotCheck;
    const auto show = [](const QString &line) { Write(stdout, line); };
    QSet<int> numbers;
    int keyless = 0;
    for (list.First(); !list.Eof(); list.Next()) {
        const int number = list.Value(QStringLiteral("TelNum")).toInt();
        numbers.insert(number);
        if (!keys.findkeycode(number, keyboard)) {
            ++keyless;
            show(QStringLiteral("无键位: %1 %2").arg(QString::number(number), list.Value(QStringLiteral("TelName")).toString()));
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
        show(QStringLiteral("不在电话号码库中: 键位 %1*%2 行%3 号码 %4")
                .arg(QString::number(module), QString::number(column), QString::number(row), QString::number(value)));
    }
    show(QStringLiteral("键盘 %1: %2 个分机无键位，%3 个键位的号码不在电话号码库中。")
              .arg(QString::number(keyboard), QString::number(keyless), QString::number(unknown)));
    return keyless + unknown > 0 ? 1 : 0;
}

int InitGroups(const TStorePlace &place, int from, int to)
{
    TOpened opened(place);
    if (!opened.Ok)
        return 1;
    TTraceSink trace;
    TTelBook book(opened.Store, trace);
    book.ShowAllGroups();
    TLiveQuery &groups = book.GroupQuery;
    if (!groups.IsOpen()) {
        Say(QStringLiteral("初始化组失败，未写入任何记录：") + groups.LastError());
        return 1;
    }
    QStringList there;
    qint64 lastSequence = 0;
    for (groups.First(); !groups.Eof(); groups.Next()) {
        const qint64 number = groups.Value(QStringLiteral("GroupNum")).toLongLong();
        if (number >= from && number <= to)
            there << QString::number(number);
        lastSequence = qMax(lastSequence, groups.Value(QStringLiteral("sequence")).toLongLong());
    }
    if (!there.isEmpty()) {
        Say(QStringLiteral("初始化组未进行，未写入任何记录：组 %1 已在电话号码库中。").arg(there.join(QStringLiteral("、"))));
        return 1;
    }
    // After the last row, numbered on from the largest sequence: nothing there is overwritten,
    // whatever gaps deletions left.
    const int count = to - from + 1;
    const qint64 position = qMax<qint64>(lastSequence, groups.RecordCount()) + 1;
    if (position + count - 1 > INT32_MAX) {
        Say(QStringLiteral("初始化组未进行，未写入任何记录：组表的序号已用到 %1。").arg(lastSequence));
        return 1;
    }
    TTelBook::TRun run;
    run.StartNum = QString::number(from);
    run.StartPos = QString::number(position);
    run.RepairName = QStringLiteral("是");
    run.Len = QString::number(count);
    // What this run stored itself: another program may have written the same groups meanwhile.
    int made = 0;
    const QString error = book.InitialiseGroups(run, {}, &made);
    book.ShowAllGroups();
    if (!error.isEmpty()) {
        Say(made == 0 ? QStringLiteral("初始化组出错：%1（未写入任何组）").arg(error)
                      : QStringLiteral("初始化组出错：%1（已写入 %2 个组）").arg(error, QString::number(made)));
        return 1;
    }
    Say(QStringLiteral("初始化组成功! 组 %1 到 %2（%3 个，名称 \"%1组\" 起），分组总数 %4。")
            .arg(QString::number(from), QString::number(to), QString::number(made), QString::number(book.GroupCount)));
    return 0;
}

} // namespace TDirectoryCommands
