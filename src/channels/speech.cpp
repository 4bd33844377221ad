#include "channels/speech.h"

#include "common/write_problem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QtEndian>

#include <espeak-ng/speak_lib.h>

#include <vector>

namespace {
std::vector<short> *Collected = nullptr; // the synthesis thread's current text

int Collect(short *samples, int count, espeak_EVENT *)
{
    if (samples && Collected)
        Collected->insert(Collected->end(), samples, samples + count);
    return 0;
}

QByteArray WavHeader(int sampleRate, quint32 dataBytes)
{
    QByteArray h(44, 0);
    auto put32 = [&h](int at, quint32 v) { qToLittleEndian<quint32>(v, h.data() + at); };
    auto put16 = [&h](int at, quint16 v) { qToLittleEndian<quint16>(v, h.data() + at); };
    h.replace(0, 4, "RIFF");
    put32(4, 36 + dataBytes);
    h.replace(8, 8, "WAVEfmt ");
    put32(16, 16);
    put16(20, 1); // PCM
    put16(22, 1); // mono
    put32(24, quint32(sampleRate));
    put32(28, quint32(sampleRate) * 2);
    put16(32, 2);
    put16(34, 16);
    h.replace(36, 4, "data");
    put32(40, dataBytes);
    return h;
}
} // namespace

bool TEspeakSynthesizer::Synthesize(const QString &text, const QString &path, QString *why)
{
    // The library is one per process and does not come back cleanly after espeak_Terminate:
    // it is set up once and kept; synthesis is serialised.
    static QMutex lock;
    static int rate = 0;
    static QString setupProblem;
    QMutexLocker locked(&lock);
    if (rate <= 0 && setupProblem.isEmpty()) {
        rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0);
        if (rate <= 0)
            setupProblem = QStringLiteral("espeak-ng 无法初始化（缺少 espeak-ng-data？）");
        else if (espeak_SetVoiceByName("cmn") != EE_OK)
            setupProblem = QStringLiteral("espeak-ng 没有普通话语音 cmn");
        else
            espeak_SetSynthCallback(Collect);
    }
    if (!setupProblem.isEmpty()) {
        *why = setupProblem;
        return false;
    }
    std::vector<short> samples;
    Collected = &samples;
    const QByteArray utf8 = text.toUtf8();
    // Synchronous output: the samples have all been handed to Collect when this returns.
    const espeak_ERROR rc = espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                                         espeakCHARS_UTF8, nullptr, nullptr);
    Collected = nullptr;
    if (rc != EE_OK || samples.empty()) {
        *why = QStringLiteral("espeak-ng 合成失败（%1）").arg(int(rc));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *why = QStringLiteral("不能写入 %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    const auto bytes = quint32(samples.size() * sizeof(short));
    file.write(WavHeader(rate, bytes));
    for (short s : samples) {
        char le[2];
        qToLittleEndian<qint16>(s, le);
        file.write(le, 2);
    }
    if (!file.commit()) {
        *why = QStringLiteral("不能写入 %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

TSpeechCache::TSpeechCache(QString folder, TMaker maker, QObject *parent)
    : QObject(parent), Folder(std::move(folder)), Synth(std::make_shared<std::unique_ptr<TSynthesizer>>()),
      Maker(maker ? std::move(maker) : [] { return std::unique_ptr<TSynthesizer>(new TEspeakSynthesizer); })
{
    Worker = new QObject;
    Worker->moveToThread(&Thread);
    connect(&Thread, &QThread::finished, Worker, &QObject::deleteLater);
    Thread.setObjectName(QStringLiteral("speech"));
    Thread.start(QThread::LowPriority);
}

TSpeechCache::~TSpeechCache()
{
    // The synthesizer goes on its own thread, where it was made.
    QMetaObject::invokeMethod(Worker, [synth = Synth] { synth->reset(); }, Qt::BlockingQueuedConnection);
    Thread.quit();
    Thread.wait();
}

QString TSpeechCache::PathFor(const QString &text) const
{
    const QByteArray key = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QDir(Folder).filePath(QString::fromLatin1(key) + QStringLiteral(".wav"));
}

bool TSpeechCache::IsReady(const QString &text) const
{
    return !Making.contains(text) && QFileInfo(PathFor(text)).size() > 44;
}

void TSpeechCache::Request(const QString &text)
{
    if (text.trimmed().isEmpty() || Making.contains(text) || IsReady(text))
        return;
    Making.insert(text);
    const QString path = PathFor(text);
    QMetaObject::invokeMethod(Worker, [this, text, path, folder = Folder, synth = Synth, maker = Maker] {
        QString why;
        bool made = false;
        if (!QDir().mkpath(folder)) {
            why = QStringLiteral("不能建立文件夹 %1").arg(QDir::toNativeSeparators(folder));
        } else {
            if (!*synth)
                *synth = maker();
            made = (*synth)->Synthesize(text, path, &why);
        }
        // A folder or disk that cannot take the file is the cause, whatever the system's words.
        if (!made) {
            if (const QString cause = TWriteProblem::Of(folder); !cause.isEmpty())
                why = cause + QStringLiteral("（") + why + QStringLiteral("）");
        }
        if (made) {
            const QFileInfoList files = QDir(QFileInfo(path).absolutePath())
                                            .entryInfoList({QStringLiteral("*.wav")}, QDir::Files, QDir::Time);
            for (qsizetype i = MaxFiles; i < files.size(); ++i)
                QFile::remove(files[i].absoluteFilePath());
        }
        QMetaObject::invokeMethod(this, [this, text, path, made, why] {
            Making.remove(text);
            if (made)
                Q_EMIT Ready(text, path);
            else
                Q_EMIT Failed(text, why);
        });
    });
}
