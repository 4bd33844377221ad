#pragma once

#include "directory/directory.h"
#include "directory/directory_store.h"
#include "common/line_log.h"
#include "common/trace_sink.h"
#include "support/pg_server.h"
#include "support/test_support.h"

#include <QTemporaryDir>

// A directory in a fresh program folder, with its tables made as at a first start; on the
// throwaway server (a fresh database) when the test's engine row says so.
struct TDirectoryFixture
{
    QTemporaryDir Dir;
    TDM DM;
    TLineLog SystemLog;
    TTraceSink Trace;
    TDirectory Directory{DM, SystemLog};
    QString Error;
    bool Prepared = false;

    TStoreUrl Url;

    TDirectoryFixture()
    {
        TStoreUrl::Parse(TestSupport::StoreUrl(), &Url, &Error);
        Prepared = DM.Prepare(Dir.path(), &Error, Url);
    }

    QStringList Rows(const QString &statement) { return TestSupport::SqlRows(DM.Connection(), statement); }
};
