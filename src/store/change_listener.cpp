#include "store/change_listener.h"
#include "store/sql_engine.h"
#include "store/statement_deadline.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

TChangeListener::TChangeListener(QString connection, std::function<void(const QString &)> make, QString channel,
                                 QObject *parent)
    : QObject(parent), Name(std::move(connection)), Make(std::move(make)), Channel(std::move(channel))
{
}

TChangeListener::~TChangeListener()
{
    if (!QSqlDatabase::contains(Name))
        return;
    QSqlDatabase::database(Name, false).close();
    QSqlDatabase::removeDatabase(Name);
}

void TChangeListener::Start()
{
    Timer = new QTimer(this);
    Timer->setSingleShot(true);
    connect(Timer, &QTimer::timeout, this, &TChangeListener::Check);
    Make(Name);
    Check();
}

bool TChangeListener::Open(QString *why)
{
    QSqlDatabase db = QSqlDatabase::database(Name, false);
    db.close();
    if (!TSqlEngine::Open(db)) {
        *why = TSqlEngine::Reason(db.lastError());
        return false;
    }
    QSqlDriver *driver = db.driver();
    const TStatementDeadline deadline(db, AnswerMs);
    if (!driver->subscribeToNotification(Channel)) {
        *why = deadline.Expired() ? deadline.Text() : TSqlEngine::Reason(driver->lastError());
        db.close();
        return false;
    }
    // The driver stays the same across reopenings: connected once.
    connect(driver, &QSqlDriver::notification, this, &TChangeListener::Changed, Qt::UniqueConnection);
    return true;
}

void TChangeListener::Fail(const QString &why)
{
    Up = false;
    if (!Said)
        Q_EMIT Lost(why);
    Said = true;
    Timer->start(RetryMs);
    RetryMs = qMin(RetryMs * 2, MaxRetryMs);
}

void TChangeListener::Check()
{
    QString why;
    if (!Up) {
        if (!Open(&why)) {
            Fail(why);
            return;
        }
        Up = true;
        Said = false;
        RetryMs = 500;
        Timer->start(CheckMs);
        Q_EMIT Changed();
        return;
    }
    // A server killed or cut off says nothing to a connection that only listens, and one that
    // hangs never answers: ask it, and wait a while only.
    QSqlDatabase db = QSqlDatabase::database(Name, false);
    bool notified = false;
    if (!TSqlEngine::Of(db).Answers(db, AnswerMs, &notified, &why)) {
        db.close();
        Fail(why.isEmpty() ? QStringLiteral("与数据库服务器的连接已断开") : why);
        return;
    }
    Timer->start(CheckMs);
    if (notified)
        Q_EMIT Changed();
}
