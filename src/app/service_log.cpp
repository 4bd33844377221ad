#include "app/service_log.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

// JOURNAL_STREAM is "device:inode" of the stream systemd connected; a program whose standard
// error was redirected elsewhere (by a wrapper script, say) no longer writes to the journal.
bool WritesToJournal(std::FILE *out)
{
#ifdef Q_OS_UNIX
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    if (stream.isEmpty())
        return false;
    struct stat st {};
    if (fstat(fileno(out), &st) != 0)
        return false;
    return stream == QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino));
#else
    Q_UNUSED(out)
    return false;
#endif
}

bool Verbose = false;

void LibraryMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (!Verbose && type != QtFatalMsg)
        return;
    TLogLevel level = TLogLevel::Debug;
    switch (type) {
    case QtWarningMsg: level = TLogLevel::Warning; break;
    case QtCriticalMsg:
    case QtFatalMsg: level = TLogLevel::Error; break;
    default: break;
    }
    TServiceLog().Write(level, message);
}

} // namespace

TServiceLog::TServiceLog(std::FILE *out) : Out(out), Journal(WritesToJournal(out)) {}

QString TServiceLog::Line(TLogLevel level, const QString &text, bool journal, const QDateTime &now)
{
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (journal)
        return QStringLiteral("<%1>").arg(int(level)) + line;
    return now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + line;
}

void TServiceLog::Write(TLogLevel level, const QString &text) const
{
    const QByteArray bytes = (Line(level, text, Journal, QDateTime::currentDateTime()) + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), Out);
    std::fflush(Out);
}

void TServiceLog::KeepLibraryMessages(bool verbose)
{
    Verbose = verbose;
    qInstallMessageHandler(LibraryMessage);
    if (!verbose) {
        // The media system's own reports go straight to standard error, past Qt.
        qputenv("GST_DEBUG", "0");
        qputenv("GST_DEBUG_NO_COLOR", "1");
    }
}
