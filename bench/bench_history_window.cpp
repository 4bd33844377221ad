// Opens the 通知记录 window on a history of 1,000,000 entries and measures how long until its
// first rows are shown; then a filter by number, the totals per day and an export of one day.
#include "history/history_window.h"
#include "history/history_writer.h"
#include "history/notice.h"

#include <QApplication>
#include <QDateTime>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTableWidget>

#include <cstdio>

namespace {
bool Fill(const QString &path, int entries)
{
    {
        THistoryWriter writer(path);
        writer.Open(); // creates the tables as the program does
        writer.Close();
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
    db.setDatabaseName(path);
    if (!db.open())
        return false;
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA synchronous=OFF"));
    db.transaction();
    q.prepare(QStringLiteral("INSERT INTO Entry(Id, At, Kind, MessageId, Target, Content, PlayCount, Channel, Outcome,"
                             " Numbers, SentAt, SwitchUp, LatencyMs) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    // One entry every 30 s back from now: about a year of a busy mine.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < entries; ++i) {
        const qint64 ms = now - qint64(entries - i) * 30000;
        const QString at = TNotice::TimeText(QDateTime::fromMSecsSinceEpoch(ms));
        const QVariantList values{ms * 1000, at, i % 3 ? QStringLiteral("语音通知") : QStringLiteral("电话拨打"), i % 65536,
                                  QString::number(i % 50), QStringLiteral("%1号工作面瓦斯超限，请立即撤离").arg(i % 9), 2, 0,
                                  QStringLiteral("已启动"), QStringLiteral("%1,%2").arg(2001 + i % 500).arg(2501 + i % 500), at, 1, 8000};
        for (int v = 0; v < values.size(); ++v)
            q.bindValue(v, values[v]);
        q.exec();
    }
    db.commit();
    db.close();
    return true;
}

double Ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int entries = argc > 1 ? std::max(1, atoi(argv[1])) : 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("History.sqlite"));
    QElapsedTimer t;
    t.start();
    if (!Fill(path, entries)) {
        std::fprintf(stderr, "cannot fill %s\n", qPrintable(path));
        return 1;
    }
    std::printf("history of %d entries written in %.1f s\n", entries, Ms(t) / 1000);

    t.restart();
    THistoryWindow window(path);
    window.Open();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    window.Grid->viewport()->repaint();
    const double open = Ms(t);
    std::printf("| 通知记录 opens (last 30 days), first rows shown | %.0f ms | %d rows fetched |\n", open, window.Model->rowCount());

    t.restart();
    window.TextEdit->setText(QStringLiteral("2123"));
    window.ApplyFilter();
    window.Grid->viewport()->repaint();
    std::printf("| filter by number 2123, first rows shown | %.0f ms | |\n", Ms(t));

    window.FromEdit->setDate(QDate::currentDate().addDays(-400));
    t.restart();
    window.TextEdit->setText(QStringLiteral("9999"));
    window.ApplyFilter();
    window.Grid->viewport()->repaint();
    std::printf("| filter by a number that never occurs, 400 days (all entries read) | %.0f ms | |\n", Ms(t));

    window.TextEdit->clear();
    window.FromEdit->setDate(QDate::currentDate().addDays(-30));
    t.restart();
    window.ShowTotals();
    std::printf("| totals per day, last 30 days | %.0f ms | %d days |\n", Ms(t), window.Totals->rowCount());

    window.FromEdit->setDate(QDate::currentDate().addDays(-1));
    window.ApplyFilter();
    window.NextFileName = dir.filePath(QStringLiteral("export.xlsx"));
    t.restart();
    window.ExportClick();
    std::printf("| export of the last two days to .xlsx | %.0f ms | |\n", Ms(t));
    return 0;
}
