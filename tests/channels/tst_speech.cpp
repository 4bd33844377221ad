#include "app/varnex_core.h"
#include "channels/speech.h"
#include "platform_link/ldtx_frame.h"
#include "support/small_disk.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

class TFailingSynthesizer : public TSynthesizer
{
public:
    bool Synthesize(const QString &, const QString &, QString *why) override
    {
        *why = QStringLiteral("no voice here");
        return false;
    }
};

// A core whose channel 0 is on and speaks texts, with one extension in group 5.
struct TSpeakingProgram
{
    QTemporaryDir Dir;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;

    explicit TSpeakingProgram(TSpeechCache::TMaker maker = {})
    {
        TCoreOptions options = TestSupport::CoreOptions(Dir, {QStringLiteral("ifUse0=是"), QStringLiteral("SpeakText0=是")}, &Player);
        options.Synthesizer = std::move(maker);
        Core = std::make_unique<TVarnexCore>(options);
        Core->FormCreate();
        Core->Directory().AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"5"}, QStringLiteral("0"), {});
    }
    // A voice notification to group 5 in mode 播放文本 (2) or 播放文件 (0).
    void Notify(const QString &text, int mode = 2)
    {
        const QByteArray payload = QByteArray(1, char(0)) + LdtxFrame::Le32(5) + char(mode) + text.toUtf8() + char(1);
        Core->Channels().Channel(0).State = ChnIdle;
        Core->Dispatcher().ExecOnCommCommand(1, LdtxFrame::MonitorRequest, LdtxFrame::VoiceNotify, payload);
    }
    QString LastOpened() const
    {
        for (auto it = Player.Calls.crbegin(); it != Player.Calls.crend(); ++it)
            if (it->startsWith(QStringLiteral("open ")))
                return it->mid(5);
        return {};
    }
};

} // namespace

class TstSpeech : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // espeak-ng makes a valid WAV of a Mandarin text, longer for a longer text.
    void espeakMakesAValidWav()
    {
        QTemporaryDir dir;
        TEspeakSynthesizer synth;
        qint64 sizes[2] = {};
        const QString texts[2] = {QStringLiteral("撤离"), QStringLiteral("3号工作面瓦斯超限，请立即撤离")};
        for (int i = 0; i < 2; ++i) {
            const QString path = dir.filePath(QStringLiteral("t%1.wav").arg(i));
            QString why;
            QVERIFY2(synth.Synthesize(texts[i], path, &why), qPrintable(why));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            QVERIFY(bytes.size() > 44);
            QCOMPARE(bytes.left(4), QByteArray("RIFF"));
            QCOMPARE(bytes.mid(8, 8), QByteArray("WAVEfmt "));
            QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 20), quint16(1)); // PCM
            QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(bytes.size() - 8));
            QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 40), quint32(bytes.size() - 44));
            sizes[i] = bytes.size();
        }
        QVERIFY2(sizes[1] > sizes[0] * 2, qPrintable(QStringLiteral("%1 vs %2").arg(sizes[0]).arg(sizes[1])));
    }

    // Until the spoken text is ready the recording plays; then the next round speaks it, and the
    // next notification with that text speaks it at once from the cache.
    void spokenOnceReady()
    {
        TSpeakingProgram p;
        QSignalSpy ready(p.Core->Speech(), &TSpeechCache::Ready);
        const QString text = QStringLiteral("3号工作面瓦斯超限，请立即撤离");
        p.Notify(text);
        QCOMPARE(p.LastOpened(), TPlayChannels::SoundFileFor(text));
        QVERIFY(ready.wait(10000));
        const QString spoken = QFileInfo(p.Core->Speech()->PathFor(text)).fileName();
        p.Core->Channels().playringNotify(); // the recording ended
        QCOMPARE(p.LastOpened(), spoken);
        p.Notify(text);
        QCOMPARE(p.LastOpened(), spoken);
        // A notification that asks for a file, not its text, plays the recording.
        p.Notify(text, 0);
        QCOMPARE(p.LastOpened(), TPlayChannels::SoundFileFor(text));
    }

    // A synthesizer that fails: the recording plays, and the memo says so once.
    void failingSynthesizerFallsBack()
    {
        TSpeakingProgram p([] { return std::unique_ptr<TSynthesizer>(new TFailingSynthesizer); });
        QSignalSpy failed(p.Core->Speech(), &TSpeechCache::Failed);
        for (const QString &text : {QStringLiteral("撤离1"), QStringLiteral("撤离2")}) {
            p.Notify(text);
            QCOMPARE(p.LastOpened(), TPlayChannels::SoundFileFor(text));
            QVERIFY(failed.wait(5000));
            p.Core->Channels().playringNotify();
            QCOMPARE(p.LastOpened(), TPlayChannels::SoundFileFor(text)); // still the recording
        }
        QCOMPARE(p.Core->LogMemo().Lines().filter(QStringLiteral("通知文字无法合成语音")).size(), 1);
    }

    // Spoken texts that cannot be kept say why: the disk under DATA mounted read-only (with or
    // without the folder made before), or a file where the folder should be.
    void whereSpokenTextsCannotBeKept_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("cause");
        QTest::newRow("read-only DATA, no folder yet") << "read-only" << "磁盘只读";
        QTest::newRow("read-only DATA, folder there") << "read-only, folder" << "磁盘只读";
        QTest::newRow("a file in place of the folder") << "file" << "不是文件夹";
    }
    void whereSpokenTextsCannotBeKept()
    {
        QFETCH(QString, place);
        QFETCH(QString, cause);
        QTemporaryDir dir;
        std::unique_ptr<TSmallDisk> disk;
        QString data = dir.filePath(QStringLiteral("DATA"));
        if (place == QLatin1String("file")) {
            QVERIFY(QDir().mkpath(data));
            QFile file(data + QStringLiteral("/speech"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            disk = std::make_unique<TSmallDisk>(1024 * 1024);
            if (!disk->Problem().isEmpty())
                QSKIP(qPrintable(disk->Problem()));
            data = disk->Path() + QStringLiteral("/DATA");
            QVERIFY(QDir().mkpath(data + (place.endsWith(QLatin1String("folder")) ? QStringLiteral("/speech") : QString())));
            QVERIFY(disk->MakeReadOnly());
        }
        TSpeechCache cache(data + QStringLiteral("/speech"));
        QSignalSpy failed(&cache, &TSpeechCache::Failed);
        cache.Request(QStringLiteral("撤离"));
        QVERIFY(failed.wait(10000));
        const QString why = failed.first().at(1).toString();
        QVERIFY2(why.startsWith(cause), qPrintable(why));
        QVERIFY2(!why.contains(QStringLiteral("No such file")), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TstSpeech)
#include "tst_speech.moc"
