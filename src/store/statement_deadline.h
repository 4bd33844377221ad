#pragma once

#include <QString>

#include <atomic>
#include <memory>

class QSqlDatabase;
class QSqlDriver;

// A server that hangs (stopped, or its machine cut off while the network still takes the bytes)
// never answers, and libpq would wait inside the statement for ever, holding whatever thread
// asked. While one of these lives, a watchman thread cuts the connection's socket once the time
// is up: the statement then fails at once as a lost connection, and the connection is opened
// afresh by whoever uses it next. Nothing is done on the files.
class TStatementDeadline
{
public:
    TStatementDeadline(const QSqlDatabase &db, int ms);
    // For a statement whose connection is known only by its driver (a QSqlQuery's).
    TStatementDeadline(const QSqlDriver *driver, int ms);
    ~TStatementDeadline();
    TStatementDeadline(const TStatementDeadline &) = delete;
    TStatementDeadline &operator=(const TStatementDeadline &) = delete;

    // The statements so far went through: the time starts again (a long write of many rows is
    // cut when one of them hangs, not because there are many).
    void Extend();

    // Whether the time ran out (or Interrupt cut it) and the connection was cut.
    bool Expired() const;
    // What an operator is told of a statement cut this way.
    static QString ExpiredText(int ms);
    QString Text() const { return ExpiredText(Ms); }

    // Cuts the statements running now on the named connection, and every one that starts on it
    // until Resume: a program that stops does not wait for a server that hangs.
    static void Interrupt(const QString &connection);
    static void Resume(const QString &connection);

    struct TWatched; // what the watchman holds of one statement

private:
    void Watch(const QSqlDriver *driver, const QString &connection);
    std::shared_ptr<TWatched> Watched;
    int Ms = 0;
};
