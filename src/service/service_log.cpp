#include "service/service_log.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#ifdef VARNEX_HAVE_ALSA
#include <alsa/asoundlib.h>

#include <cstdarg>
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

#ifdef VARNEX_HAVE_ALSA
// ALSA writes its complaints (no card, a configuration it cannot evaluate) in pieces straight to
// standard error unless a handler takes them. The media sinks that try ALSA (GStreamer's, OpenAL's)
// load this same library, so the one handler hears them all.
void AlsaMessage(const char *file, int line, const char *function, int err, const char *format, ...)
{
    if (!Verbose)
        return;
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    QString said = QStringLiteral("ALSA %1:%2 (%3) %4").arg(QString::fromLocal8Bit(file)).arg(line)
                       .arg(QString::fromLocal8Bit(function), QString::fromLocal8Bit(text));
    if (err != 0)
        said += QStringLiteral(": ") + QString::fromLocal8Bit(snd_strerror(err));
    TServiceLog().Write(TLogLevel::Warning, said);
}
#endif

// Set unless the environment already says otherwise: whoever set it wants that.
void SetUnlessGiven(const char *name, const QByteArray &value)
{
    if (!qEnvironmentVariableIsSet(name))
        qputenv(name, value);
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
        SetUnlessGiven("GST_DEBUG", "0");
        SetUnlessGiven("GST_DEBUG_NO_COLOR", "1");
    }
    // OpenAL (GStreamer's openal sink) writes "AL lib: (EE) …" to standard error or to a file,
    // never to a function of ours: kept out, verbose or not. The sound player's state says
    // what matters, no device or a failed play. Set before the media libraries load.
    if (!qEnvironmentVariableIsSet("ALSOFT_LOGFILE"))
        SetUnlessGiven("ALSOFT_LOGLEVEL", "0");
#ifdef VARNEX_HAVE_ALSA
    snd_lib_error_set_handler(AlsaMessage);
#endif
}
