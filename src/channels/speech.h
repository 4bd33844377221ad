#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

// Makes a WAV file of a text read aloud in Mandarin.
class TSynthesizer
{
public:
    virtual ~TSynthesizer() = default;
    // Writes path whole (or not at all); false with the reason when it cannot.
    virtual bool Synthesize(const QString &text, const QString &path, QString *why) = 0;
};

// espeak-ng's library, offline, voice "cmn". One library per process, set up at first use and
// kept; calls from several threads take turns.
class TEspeakSynthesizer : public TSynthesizer
{
public:
    bool Synthesize(const QString &text, const QString &path, QString *why) override;
};

// Spoken texts kept as WAV files in a folder, keyed by the text and reused. Synthesis runs on a
// thread of its own, never on the link's; Ready or Failed is signalled on the caller's thread.
class TSpeechCache : public QObject
{
    Q_OBJECT
public:
    using TMaker = std::function<std::unique_ptr<TSynthesizer>()>;
    // Spoken texts kept; the least recently made go first (texts that carry changing numbers
    // would otherwise fill the disk over the years).
    static constexpr int MaxFiles = 500;

    // maker is called on the synthesis thread (espeak-ng by default).
    explicit TSpeechCache(QString folder, TMaker maker = {}, QObject *parent = nullptr);
    ~TSpeechCache() override;

    // The file for text (it may not exist yet).
    QString PathFor(const QString &text) const;
    bool IsReady(const QString &text) const;
    // Starts making the file unless it is there or being made.
    void Request(const QString &text);

Q_SIGNALS:
    void Ready(const QString &text, const QString &path);
    void Failed(const QString &text, const QString &why);

private:
    QString Folder;
    QThread Thread;
    QObject *Worker = nullptr; // lives on Thread
    std::shared_ptr<std::unique_ptr<TSynthesizer>> Synth;
    TMaker Maker;
    QSet<QString> Making;
};
