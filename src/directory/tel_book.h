#pragma once

#include "directory/live_query.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class TDM;
class TTraceSink;

// What the directory window does with the tables: its own three statement handles, the two
// counts and the title it shows, the runs of extensions or groups it creates, the deletions,
// member listing and recount, and the idle countdown that closes it.
class TTelBook : public QObject
{
    Q_OBJECT
public:
    static constexpr int IdleSeconds = 1000;

    // The texts of an initialisation dialog. Group runs ignore Group and Status.
    struct TRun
    {
        QString StartNum, StartPos, RepairName, Group, Status, Msg, Len;
    };
    // Told after every 1000 rows written and at least every ProgressEveryMs; false ends the run
    // there, keeping what was written.
    static constexpr int ProgressEveryMs = 5;
    using TProgress = std::function<bool(int written, int total)>;

    TTelBook(TDM &store, TTraceSink &trace, QObject *parent = nullptr);

    // The extension columns the window lists and the spreadsheets carry, with their headings.
    static QStringList TelNumberColumns();
    static QStringList TelNumberTitles();

    TLiveQuery Query;      // the extensions shown
    TLiveQuery GroupQuery; // the groups shown
    TLiveQuery tmpQuery;   // deletions and member counts

    // The window shows its title with the date after opening and this alone after 全部.
    QString BaseTitle = QStringLiteral("电话号码");
    QString Title;
    int TelCount = 0;
    int GroupCount = 0;
    int IdleCountdown = 0;

    void Open();
    QString ShowAll();                // 全部
    // Every extension in the directory (number and name, in list order) that hasKey refuses;
    // empty with *error set when the directory cannot be read.
    QStringList WithoutKey(const std::function<bool(int number)> &hasKey, QString *error) const;
    QString DeleteCurrent();          // 删除, after the operator agreed
    QString DeleteAll();              // 全删
    QString Initialise(const TRun &run, const TProgress &progress = {});       // 初始化
    // *stored, when given: the rows this run committed (another program's rows are not its own).
    QString InitialiseGroups(const TRun &run, const TProgress &progress = {}, int *stored = nullptr); // 初始化组
    QString DeleteGroup();            // 删除组
    QString DeleteAllGroups();        // 全删组
    void ShowMembers();               // 组内分机
    void ShowAllGroups();             // 全部组
    QString RecountMembers();         // 刷新组内用户数

    void ResetIdle() { IdleCountdown = IdleSeconds; }
    // One idle second; true when the countdown has just run out.
    bool IdleTick();

Q_SIGNALS:
    // Results, counts or title changed: the grids and labels show them anew.
    void Changed();

private:
    // Deletes the current row of query and every other row of table holding its number, all or
    // nothing; the list is read again afterwards.
    QString DeleteRowAndNumber(TLiveQuery &query, const QString &table, const QString &numberColumn);
    QString WriteRun(TLiveQuery &query, const QString &table, const TRun &run, bool groups, const TProgress &progress,
                     int *stored = nullptr);

    TDM &Store;
    TTraceSink &Trace;
};
