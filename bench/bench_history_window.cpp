// Opens the 通知记录 window on a history of 1,000,000 entries and measures how long until its
// first rows are shown; then a filter by number, the totals per day and an export of one day.
// The list reads on a thread of its own: each line also gives the longest time the window's
// thread (the links' thread too) went without turning its event loop meanwhile.
#include "history/history.h"
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
#include "common/configuration.h"
#include "keyboard/key_table.h"

#include <QTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTableWidget>

#include <cstdio>

namespace {
bool Fill(const QString &path, int entries)
{
    {
        THistoryWriter writer(TStorePlace{path, {}});
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

// The longest gap between turns of the event loop while it is running.
struct TStallWatch
{
    QTimer Tick;
    QElapsedTimer Since;
    double Longest = 0;
    TStallWatch()
    {
        Tick.setInterval(1);
        QObject::connect(&Tick, &QTimer::timeout, [this] {
            Longest = std::max(Longest, Ms(Since));
            Since.restart();
        });
    }
    void Start()
    {
        Longest = 0;
        Since.start();
        Tick.start();
    }
    // Stops, counting the time since the last turn too.
    double Stop()
    {
        Tick.stop();
        return std::max(Longest, Ms(Since));
    }
};
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

    TConfiguration config;
    TKeyTable keys;
    THistory history(config, keys);
    history.Open(dir.path());
    TStallWatch stalls;

    t.restart();
    stalls.Start();
    THistoryWindow window(history);
    window.Open();
    if (!QTest::qWaitForWindowExposed(&window) || !QTest::qWaitFor([&] { return !window.Model->IsReading(); }, 60000))
        return 1;
    window.Grid->viewport()->repaint();
    std::printf("| 通知记录 opens (last 30 days), first rows shown | %.0f ms | %d rows read | window's thread stalled at most %.0f ms |\n",
                Ms(t), window.Model->rowCount(), stalls.Stop());

    const auto filter = [&](const char *what) {
        t.restart();
        stalls.Start();
        window.ApplyFilter();
        (void)QTest::qWaitFor([&] { return !window.Model->IsReading(); }, 60000);
        window.Grid->viewport()->repaint();
        std::printf("| %s | %.0f ms | %d rows read | window's thread stalled at most %.0f ms |\n", what, Ms(t), window.Model->rowCount(),
                    stalls.Stop());
    };
    window.TextEdit->setText(QStringLiteral("2123"));
    filter("filter by number 2123, first rows shown");
    window.FromEdit->setDate(QDate::currentDate().addDays(-400));
    window.TextEdit->setText(QStringLiteral("9999"));
    filter("filter by a number that never occurs, 400 days (all entries read)");

    window.TextEdit->clear();
    window.FromEdit->setDate(QDate::currentDate().addDays(-30));
    filter("last 30 days again");
    t.restart();
    stalls.Start();
    window.ShowTotals();
    (void)QTest::qWaitFor([&] { return window.Totals->rowCount() > 0; }, 60000);
    std::printf("| totals per day, last 30 days | %.0f ms | %d days | window's thread stalled at most %.0f ms |\n", Ms(t),
                window.Totals->rowCount(), stalls.Stop());

    window.FromEdit->setDate(QDate::currentDate().addDays(-1));
    filter("last two days");
    window.NextFileName = dir.filePath(QStringLiteral("export.xlsx"));
    t.restart();
    stalls.Start();
    window.ExportClick();
    (void)QTest::qWaitFor([&] { return !window.LastMessage.isEmpty(); }, 120000);
    std::printf("| export of the last two days to .xlsx | %.0f ms | %s | window's thread stalled at most %.0f ms |\n", Ms(t),
                qPrintable(window.LastMessage), stalls.Stop());
    history.Close();
    return 0;
}
