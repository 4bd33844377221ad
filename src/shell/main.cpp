#include "shell/main_form.h"
#include "shell/varnex_core.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnex"));

    TVarnexCore core;
    TMainForm form(core);
    core.FormCreate();
    form.show();
    form.ShowStartupErrors(core.StartupErrors());
    core.StartTimers();

    const int rc = QApplication::exec();
    core.FormDestroy();
    return rc;
}
