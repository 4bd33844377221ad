#include "directory/directory_copy.h"

#include "common/text_cut.h"
#include "directory/directory_store.h"
#include "common/line_log.h"
#include "store/change_listener.h"
#include "store/sql_engine.h"
#include "store/statement_deadline.h"

#include <utility>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>
#include <QtEndian>

QByteArray TDirectoryRows::WireRow(int32_t number, const QString &name, const int *status)
{
    const QByteArray text = Utf8CutAtBoundary(name, 50);
    QByteArray row(4, Qt::Uninitialized);
    qToLittleEndian<int32_t>(number, row.data());
    row += char(text.size());
    row += text;
    if (status)
        row += char(*status & 0xFF);
    return row;
}

std::vector<const TDirectoryRows::TPhone *> TDirectoryRows::Members(const QString &group) const
{
    std::vector<const TPhone *> members;
    for (const TPhone &phone : Phones)
        for (const QString &slot : phone.Groups)
            if (!slot.isNull() && slot == group) {
                members.push_back(&phone);
                break;
            }
    return members;
}

TDirectoryCopy::TDirectoryCopy(TDM &store, TLineLog &systemLog)
    : Store(store), SystemLog(systemLog),
      Name(QStringLiteral("DirectoryCopy-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      Receiver(std::make_unique<QObject>())
{
}

void TDirectoryCopy::Stop()
{
    if (Stopped)
        return;
    Stopped = true;
    if (!Reader)
        return;
    // The reader's connection goes on its own thread, then the thread; a read that hangs on the
    // server is cut first, and nothing waits here for one that is still connecting.
    const QString connection = Name + QStringLiteral("-reader");
    TStatementDeadline::Interrupt(connection);
    QMetaObject::invokeMethod(ReaderContext.get(), [this, connection] {
        delete Listener;
        Listener = nullptr;
        if (QSqlDatabase::contains(connection)) {
            QSqlDatabase::database(connection, false).close();
            QSqlDatabase::removeDatabase(connection);
        }
    });
    Reader->quit();
}

TDirectoryCopy::~TDirectoryCopy()
{
    Stop();
    if (Reader) {
        Reader->wait();
        ReaderContext.reset();
        TStatementDeadline::Resume(Name + QStringLiteral("-reader"));
    }
    if (!QSqlDatabase::contains(Name))
        return;
    QSqlDatabase::database(Name, false).close();
    QSqlDatabase::removeDatabase(Name);
}

bool TDirectoryCopy::Open()
{
    if (Store.Folder().isEmpty())
        return false;
    // Asked for every request: the connection is opened again only when the store's folder
    // changed or the last opening failed.
    if (IsOpen && Store.Folder() == Folder)
        return true;
    // Never wait: a locked file is answered from the copy at once.
    QSqlDatabase db = Store.AddConnection(Name, QStringLiteral("copy"), true);
    Folder = Store.Folder();
    SeenVersion = -1;
    return IsOpen = TSqlEngine::Open(db);
}

void TDirectoryCopy::Fail(const QString &why)
{
    if (!Failing) {
        SystemLog.Add({(Loaded ? UnreadableText() : NeverReadText()) + why, Loaded ? TLogLevel::Warning : TLogLevel::Error});
        FailingSince = QDateTime::currentMSecsSinceEpoch();
    }
    Failing = true;
}

void TDirectoryCopy::Succeed(bool wasLoaded)
{
    if (Failing)
        SystemLog.Add({wasLoaded ? ReadableAgainText() : FirstReadText(), TLogLevel::Notice});
    Failing = false;
}

const TDirectoryRows *TDirectoryCopy::Rows()
{
    const TDirectoryRows *current = Loaded ? &Copy : nullptr;
    if (Stopped)
        return current;
    if (Store.OnServer()) {
        Follow();
        return current;
    }
    if (!Open()) {
        Fail(Store.OpenProblem());
        return current;
    }
    const bool due = !Checked.isValid() || Checked.elapsed() >= RecheckMs;
    // The program's own commit is read at once, also while an earlier failure waits its turn.
    const bool ownWrite = Loaded && SeenWrites != TDM::Writes();
    // A copy never read is tried on every request: failing to read a locked file costs nothing,
    // and the first request after the lock is released must have the rows.
    if (Failing && !due && !ownWrite && Loaded)
        return current;
    bool read = !Loaded || ownWrite;
    if (!read && due) {
        Checked.start();
        QSqlQuery version(QSqlDatabase::database(Name, false));
        if (!version.exec(QStringLiteral("PRAGMA data_version")) || !version.next()) {
            Fail(TDM::Explain(version.lastError()));
            return current;
        }
        read = version.value(0).toLongLong() != SeenVersion;
        if (!read)
            Succeed(true);
    }
    if (!read)
        return current;
    const quint64 writes = TDM::Writes();
    QString error;
    Checked.start();
    // A large directory is read anew on a thread of its own while the requests are answered
    // from the rows before it (reading 60,000 rows here would hold the link for most of a
    // second); the new rows are swapped in when they are complete.
    if (Loaded && Copy.Phones.size() >= LargeRows) {
        QSqlQuery now(QSqlDatabase::database(Name, false));
        const qint64 version = now.exec(QStringLiteral("PRAGMA data_version")) && now.next() ? now.value(0).toLongLong() : -1;
        ReadInBackground(writes, version);
        return current;
    }
    if (!Read(&error)) {
        // Locked by this program's own write: the rows before it are still the committed ones,
        // and the commit is read by the next request. Neither a failure nor another program.
        if (TDM::IsBusy(error) && TDM::Writing()) {
            Checked.invalidate();
            return current;
        }
        Fail(error);
        return current;
    }
    SeenWrites = writes;
    const bool wasLoaded = std::exchange(Loaded, true);
    Succeed(wasLoaded);
    return &Copy;
}

bool TDirectoryCopy::ReadRows(const QString &connection, TDirectoryRows &rows, qint64 *version, QString *error)
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    // A server that hangs would hold the reader's thread (and the program's stop) for ever.
    const TStatementDeadline deadline(db, ReadDeadlineMs);
    QSqlQuery q(db);
    // Read once, front to back: a query that may scroll back keeps every row it has passed,
    // some megabytes of values for a large directory, which the heap keeps after the read.
    q.setForwardOnly(true);
    const TSqlEngine &engine = TSqlEngine::Of(db);
    // One read transaction: both tables and the version as of the same commit.
    if (!q.exec(engine.BeginSnapshot())) {
        *error = TDM::Explain(q.lastError());
        return false;
    }
    bool ok = true;
    *version = -1;
    if (!engine.ChangeVersion().isEmpty()) {
        ok = q.exec(engine.ChangeVersion()) && q.next();
        *version = ok ? q.value(0).toLongLong() : -1;
    }
    ok = ok && q.exec(QStringLiteral("SELECT GroupNum, GroupName FROM \"Group\" ORDER BY sequence asc"));
    while (ok && q.next()) {
        TDirectoryRows::TGroup group{q.value(0).toInt(), q.value(1).toString(), {}};
        group.Row = TDirectoryRows::WireRow(group.Number, group.Name, nullptr);
        rows.Groups.push_back(std::move(group));
    }
    ok = ok && !q.lastError().isValid();
    ok = ok && q.exec(QStringLiteral("SELECT TelNum, TelName, Status, GroupNo1, GroupNo2, GroupNo3, GroupNo4, GroupNo5, "
                                     "GroupNo6, GroupNo7, GroupNo8 FROM TelNumber ORDER BY sequence asc"));
    while (ok && q.next()) {
        TDirectoryRows::TPhone phone{q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt(), {}, {}};
        phone.Row = TDirectoryRows::WireRow(phone.Number, phone.Name, &phone.Status);
        for (int slot = 0; slot < 8; ++slot) {
            const QVariant value = q.value(3 + slot);
            phone.Groups[size_t(slot)] = value.isNull() ? QString() : value.toString();
        }
        rows.Phones.push_back(std::move(phone));
    }
    ok = ok && !q.lastError().isValid();
    if (!ok)
        *error = deadline.Expired() ? TDM::UnreachableText() + QLatin1Char('(') + deadline.Text() + QLatin1Char(')')
                                    : TDM::Explain(q.lastError());
    q.finish();
    if (!deadline.Expired())
        QSqlQuery(db).exec(QStringLiteral("COMMIT"));
    return ok;
}

bool TDirectoryCopy::Read(QString *error)
{
    TDirectoryRows rows;
    qint64 version = -1;
    if (!ReadRows(Name, rows, &version, error))
        return false;
    rows.Generation = ++Reads;
    Copy = std::move(rows);
    SeenVersion = version;
    return true;
}

void TDirectoryCopy::ReadInBackground(quint64 writes, qint64 version)
{
    if (Renewing)
        return;
    Renewing = true;
    StartReader();
    const QString file = Folder + QStringLiteral("ChaDB.sqlite");
    const QString connection = Name + QStringLiteral("-reader");
    QObject *back = Receiver.get();
    QMetaObject::invokeMethod(ReaderContext.get(), [this, back, file, connection, writes, version] {
        // The reader thread's own connection, never waiting for a lock, as the copy's.
        QSqlDatabase db = QSqlDatabase::contains(connection) ? QSqlDatabase::database(connection, false)
                                                             : Store.AddConnection(connection, QStringLiteral("copy"), true);
        if (db.databaseName() != file) {
            db.close();
            db.setDatabaseName(file);
        }
        auto rows = std::make_shared<TDirectoryRows>();
        qint64 unused = -1;
        QString error;
        const bool ok = (db.isOpen() || TSqlEngine::Open(db)) && ReadRows(connection, *rows, &unused, &error);
        if (!db.isOpen() && error.isEmpty())
            error = TDM::Explain(db.lastError());
        QMetaObject::invokeMethod(back, [this, rows, ok, error, writes, version] {
            Renewing = false;
            if (!ok) {
                if (!(TDM::IsBusy(error) && TDM::Writing()))
                    Fail(error);
                Checked.invalidate();
                return;
            }
            rows->Generation = ++Reads;
            Copy = std::move(*rows);
            // What the copy's own connection saw before the read began: a commit after that
            // shows as a new version at the next look and is read then.
            SeenVersion = version;
            SeenWrites = writes;
            Succeed(std::exchange(Loaded, true));
        });
    });
}

void TDirectoryCopy::StartReader()
{
    if (Reader)
        return;
    Reader = std::make_unique<QThread>();
    Reader->setObjectName(QStringLiteral("directory-copy"));
    ReaderContext = std::make_unique<QObject>();
    ReaderContext->moveToThread(Reader.get());
    Reader->start(QThread::LowPriority);
}

void TDirectoryCopy::Follow()
{
    if (!Listening) {
        Listening = true;
        StartReader();
        const QString connection = Name + QStringLiteral("-reader");
        QMetaObject::invokeMethod(ReaderContext.get(), [this, connection] {
            TDM *store = &Store;
            Listener = new TChangeListener(connection, [store](const QString &name) {
                store->AddConnection(name, QStringLiteral("copy"), true);
            }, TDM::ChangeChannel(), ReaderContext.get());
            QObject::connect(Listener, &TChangeListener::Changed, Listener, [this] { ReadOnServer(TDM::Writes()); });
            QObject::connect(Listener, &TChangeListener::Lost, Listener, [this](const QString &why) {
                QMetaObject::invokeMethod(Receiver.get(), [this, why] { Fail(TDM::LostServerText(why)); });
            });
            Listener->Start();
        });
        return;
    }
    // This program's own commit: asked for at once rather than left to the notice.
    const quint64 writes = TDM::Writes();
    if (writes != AskedWrites) {
        AskedWrites = writes;
        QMetaObject::invokeMethod(ReaderContext.get(), [this, writes] { ReadOnServer(writes); });
    }
}

void TDirectoryCopy::ReadOnServer(quint64 writes)
{
    // On the reader thread. Notices that come in a burst are read once.
    ServerWrites = std::max(ServerWrites, writes);
    if (ReadQueued)
        return;
    ReadQueued = true;
    QMetaObject::invokeMethod(ReaderContext.get(), [this] {
        ReadQueued = false;
        if (!Listener || !Listener->IsUp())
            return; // read again when the listener is back
        const quint64 writes = ServerWrites;
        auto rows = std::make_shared<TDirectoryRows>();
        qint64 unused = -1;
        QString error;
        const bool ok = ReadRows(Listener->Connection(), *rows, &unused, &error);
        QMetaObject::invokeMethod(Receiver.get(), [this, rows, ok, error, writes] {
            if (!ok) {
                Fail(error);
                return;
            }
            rows->Generation = ++Reads;
            Copy = std::move(*rows);
            SeenWrites = writes;
            Succeed(std::exchange(Loaded, true));
        });
    }, Qt::QueuedConnection);
}
