#include "widgets/qt_texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

bool UseChineseQtTexts()
{
    static QTranslator *loaded = nullptr;
    if (loaded)
        return true;
    auto *translator = new QTranslator(QCoreApplication::instance());
    // Qt's own folder first; a deployed copy keeps them in "translations" beside the program.
    for (const QString &folder : {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                  QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
        if (translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
            QCoreApplication::installTranslator(translator);
            loaded = translator;
            return true;
        }
    }
    delete translator;
    return false;
}
