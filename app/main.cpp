#include <QApplication>
#include <QTimer>

#include "app/demo_script.h"
#include "app/frm_pocetak.h"
#include "app/ui_services.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelinor"));

    pelinor::QtUiServices real;
    pelinor::DemoScript demo(QApplication::arguments(), real);
    pelinor::UiServices& ui = demo.active() ? static_cast<pelinor::UiServices&>(demo) : real;

    pelinor::MDIPocetak window(ui);
    window.show();
    if (demo.active()) QTimer::singleShot(0, &window, [&] { demo.run(window); });
    return app.exec();
}
