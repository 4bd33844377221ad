#pragma once

#include "store/store_place.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// A throwaway PostgreSQL server of the tests' own: made with initdb in a temporary folder,
// listening only on a Unix socket in that folder, stopped and removed at the end of the test
// program (or, should the program crash, by the next test program that starts one). Run as the
// postgres user when the tests run as root (the server refuses root).
class TPgServer
{
public:
    // The one server of this test program, started at the first call.
    static TPgServer &Shared();
    ~TPgServer();

    // Empty when the server runs; else why it could not start.
    QString Problem() const { return Why; }
    // A fresh empty database on the server, as an address the program takes.
    QString NewDatabase();
    // The address of a database made before.
    QString Url(const QString &database) const;
    QString SocketFolder() const { return Folder.path(); }

    // For the tests of a server that goes away and comes back. Start does nothing to a server
    // that runs; a test that stops or kills it starts it again however it ends.
    bool Stop();
    bool Start();
    // SIGKILL to the server and its backends: connections die without a word.
    bool Kill();
    // SIGSTOP (true) or SIGCONT (false) to the server and its backends: a server that hangs,
    // its sockets still taking bytes.
    bool Pause(bool stopped);

private:
    TPgServer();
    bool Run(const QStringList &command, QString *output = nullptr) const;
    bool StartOnce();
    void StopLeftOvers() const;

    QTemporaryDir Folder{QStringLiteral("/tmp/varnex-pg-XXXXXX")};
    QString Bin;
    QString RunAs; // the user the server runs as, when the tests run as root
    QString Why;
    int Databases = 0;
};

namespace TestSupport {

// The engines the stored-data tests run on, as the test's global data (initTestCase_data):
// a column "server" (false: the SQLite files; true: the throwaway server). VARNEX_ENGINE=files
// or server keeps only that row.
void EnginesData();
// The store address for the current engine row: empty for the files, a fresh database on the
// server otherwise. Empty also when the test program has no engine rows.
QString StoreUrl();
// Why the current row cannot run (the server could not start), for QSKIP; empty when it can.
// With VARNEX_REQUIRE_POSTGRES set, a server that cannot start fails instead of skipping.
QString EngineProblem();
bool OnServer();
// A store's place for the current engine row: the file, or a fresh database on the server.
TStorePlace StorePlace(const QString &file);

} // namespace TestSupport

// In init(): the current engine row is skipped, with the reason, when its server cannot run.
#define VARNEX_INIT_ENGINE()                                                                        \
    do {                                                                                            \
        const QString engineProblem = TestSupport::EngineProblem();                                 \
        if (!engineProblem.isEmpty()) {                                                             \
            if (qEnvironmentVariableIsSet("VARNEX_REQUIRE_POSTGRES"))                               \
                QFAIL(qPrintable(engineProblem));                                                   \
            QSKIP(qPrintable(engineProblem));                                                       \
        }                                                                                           \
    } while (false)

// A test about the SQLite files themselves: the server row has nothing to show.
#define VARNEX_FILES_ONLY()                                                                         \
    do {                                                                                            \
        if (TestSupport::OnServer())                                                                \
            QSKIP("about the directory's files");                                                   \
    } while (false)

// A test that uses no store: run once, on the files row.
#define VARNEX_NO_STORE()                                                                           \
    do {                                                                                            \
        if (TestSupport::OnServer())                                                                \
            QSKIP("uses no store");                                                                 \
    } while (false)
