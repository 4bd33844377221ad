#include "directory/number_import.h"

#include "directory/directory.h"
#include "directory/directory_store.h"
#include "sheets/sheet_reader.h"

#include <QFileInfo>

QString TNumberImport::TOutcome::Message() const
{
    if (StoppedAt > 0) {
        // What is stored comes first: an operator who read only the bad row's reason would
        // take the whole file for not imported, or import the rows before it again by hand.
        QString stored = Imported > 0 ? QStringLiteral("已导入 %1 行").arg(Imported) : QStringLiteral("未导入任何行");
        if (Refused > 0)
            stored += QStringLiteral("（另有 %1 行未能保存，第一个原因：%2）").arg(QString::number(Refused), FirstRefusal);
        return stored + QStringLiteral("；") + Error + QStringLiteral("，此行及其后的行未导入。");
    }
    if (!Error.isEmpty())
        return Error;
    if (Refused == 0)
        return QStringLiteral("导入成功！");
    return QStringLiteral("已导入 %1 行，%2 行未能保存（第一个原因：%3）。")
        .arg(QString::number(Imported), QString::number(Refused), FirstRefusal);
}

TNumberImport::TOutcome TNumberImport::NothingImported(TOutcome outcome, const QString &why)
{
    outcome.Imported = 0;
    outcome.Refused = 0;
    outcome.StoppedAt = 0;
    outcome.FirstRefusal.clear();
    outcome.Error = QStringLiteral("导入失败，未导入任何记录：") + why;
    return outcome;
}

TNumberImport::TNumberImport(TDirectory &directory, TDM &store) : Directory(directory), Store(store) {}

TNumberImport::TOutcome TNumberImport::Run(const QString &path, const QString &label, const TProgress &progress)
{
    TOutcome outcome;
    if (const QString unread = Directory.GetTelNumberAmount(); !unread.isEmpty())
        return NothingImported(std::move(outcome), unread);
    if (path.isEmpty()) {
        outcome.Error = QStringLiteral("请选择电话号码文件！");
        return outcome;
    }
    if (label.isEmpty()) {
        outcome.Error = QStringLiteral("请输入本次导入的标注！");
        return outcome;
    }
    QList<QStringList> rows;
    if (!TSheetReader::Read(path, &rows, &outcome.Error))
        return outcome;

    outcome.Rows = qMax(int(rows.size()) - 1, 0);
    if (outcome.Rows == 0) {
        const QString name = QFileInfo(path).fileName();
        outcome.Error = QStringLiteral("导入 0 条：")
            + (QFileInfo(path).size() == 0 ? QStringLiteral("文件 %1 是空的（0 字节）。").arg(name)
                                           : QStringLiteral("文件 %1 中标题行之下没有数据行（读到 A 列为空的第一行为止）。").arg(name));
        return outcome;
    }
    // One transaction: rows before a conversion error stay; a failed commit stores nothing.
    TWriteTransaction transaction(Store.Connection());
    if (!transaction.BeginError().isEmpty())
        return NothingImported(std::move(outcome), transaction.BeginError());
    // Rows appended and then rolled back leave their sequence numbers free again.
    const int nextSequence = Directory.NextSequence;
    const auto undone = [&](TOutcome outcome, const QString &why) {
        transaction.Rollback();
        Directory.NextSequence = nextSequence;
        return NothingImported(std::move(outcome), Store.Cause(why));
    };
    for (int k = 1; k <= outcome.Rows; ++k) {
        const QStringList &cells = rows[k];
        if (!cells[1].isEmpty()) {
            bool conversion = false;
            const QString why =
                Directory.AddTelNumber(cells[1], cells[2], cells[3], cells.mid(4, 8), cells[12], cells[13], label, &conversion);
            if (conversion) {
                outcome.StoppedAt = k + 1;
                outcome.Error = QStringLiteral("第 %1 行: ").arg(k + 1) + why;
                break;
            }
            // A full disk, an I/O error or the other program's lock fails every further row too,
            // and SQLite may have rolled the whole transaction back by itself: later rows would
            // then be stored one by one, outside any transaction.
            if (!why.isEmpty() && (TDM::EndsWrites(why) || !transaction.StillOpen()))
                return undone(std::move(outcome), why);
            if (why.isEmpty()) {
                ++outcome.Imported;
            } else if (outcome.Refused++ == 0) {
                outcome.FirstRefusal = QStringLiteral("第 %1 行: ").arg(k + 1) + why;
            }
        }
        if (progress)
            progress(k, outcome.Rows);
    }
    if (const QString failure = transaction.Commit(); !failure.isEmpty())
        return undone(std::move(outcome), failure);
    if (outcome.Error.isEmpty() && outcome.Imported == 0 && outcome.Refused == 0)
        outcome.Error = QStringLiteral("导入 0 条：%1 的 %2 个数据行都没有分机号码（B 列）。")
                            .arg(QFileInfo(path).fileName(), QString::number(outcome.Rows));
    return outcome;
}
