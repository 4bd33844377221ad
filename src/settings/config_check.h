#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class TSettingsStore;

// What in the settings and the files beside them would keep an alarm from reaching a phone
// without a word: a misspelt name that leaves its default in force, a value that cannot be
// right, a settings file in another code page, a key.dat of the wrong size. Nothing here
// changes what the settings mean; it only says what they do. Every line names the file and
// the setting it is about.
class TConfigCheck
{
public:
    struct TProblem
    {
        QString Text;
        // The program cannot do its work at all with it (it does not start).
        bool Fatal = false;
    };

    // Every name the program reads or writes, as it spells them.
    static QStringList KnownNames();
    // The known name a misspelt one most likely means; empty when none is near.
    static QString Nearest(const QString &name);

    // Names and values of the settings as last opened. Values the readers already report when
    // they fall back to a default (integers and ports) are left to them.
    static QList<TProblem> Settings(const TSettingsStore &store);
    // key.dat: not there, not the size the switch exports, or nothing on the keyboard in use.
    static QList<TProblem> KeyFile(const QString &path, int keyboard);
};
