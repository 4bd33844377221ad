#include "app/main_form.h"
#include "app/varnex_core.h"

#include <QApplication>

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char *argv[])
{
#ifdef __GLIBC__
    // Every reply makes and drops lines of several KB; memory given back to the system after each
    // would be asked for and faulted in again, a spike in the link's answer time.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
#endif
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
