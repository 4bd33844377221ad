// Draws the main window offscreen, as an operator sees it at its design size, into a PNG file
// (for the README). Runs the program's own core in a throwaway folder.
#include "app/main_form.h"
#include "app/varnex_core.h"
#include "widgets/qt_texts.h"

#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: varnex-screenshot FILE.png\n");
        return 2;
    }
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UseChineseQtTexts();
    TCoreOptions options;
    options.DataDir = dir.filePath(QStringLiteral("DATA"));
    options.SoundDir = QCoreApplication::applicationDirPath();
    TVarnexCore core(options);
    TMainForm form(core);
    core.FormCreate();
    form.resize(TMainForm::DesignSize());
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    QTest::qWait(300); // memos and labels settle
    if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    core.FormDestroy();
    return 0;
}
