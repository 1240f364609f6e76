// pelinor-demo: the desktop program driven by a script, for scripts/screenshot.sh. It is the
// program's own main window and dialogs; only the file dialogs and message boxes are
// answered by the script (see demo_script.h).
#include "desktop/app/frm_pocetak.h"
#include "desktop/app/startup.h"
#include "desktop/toolkit/ui_services.h"
#include "tools/demo_script.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    pelinor::setApplicationIdentity();
    pelinor::installQtTranslation(app);
    QApplication::setWindowIcon(pelinor::applicationIcon());
    pelinor::QtUiServices real;
    pelinor::DemoScript demo(QApplication::arguments(), real);
    pelinor::MDIPocetak window(demo);
    window.show();
    QTimer::singleShot(0, &window, [&] { demo.run(window); });
    return app.exec();
}
