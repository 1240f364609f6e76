#include "desktop/app/frm_pocetak.h"
#include "desktop/app/startup.h"
#include "desktop/toolkit/ui_services.h"

#include <QApplication>
#include <cstdio>

namespace {

int refuse(const pelinor::CommandLine& line)
{
    std::fprintf(stderr, "pelinor: %s\n", qPrintable(line.errorText()));
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // --help and --version print and end; they must work without a display, so no
    // window system is touched for them.
    if (pelinor::asksForTextOnly(arguments)) {
        QCoreApplication app(argc, argv);
        pelinor::setApplicationIdentity();
        pelinor::installQtTranslation(app);
        pelinor::CommandLine line;
        if (!line.parse(QCoreApplication::arguments())) return refuse(line);
        std::fputs(qPrintable(line.help() ? line.helpText() : line.versionText()), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    pelinor::setApplicationIdentity();
    pelinor::installQtTranslation(app);
    QApplication::setWindowIcon(pelinor::applicationIcon());
    QApplication::setDesktopFileName(QStringLiteral("hr.pelinor.Pelinor"));

    // Qt has taken its own options (-platform, -style...) out of the arguments by now.
    pelinor::CommandLine line;
    if (!line.parse(QApplication::arguments())) return refuse(line);

    pelinor::QtUiServices ui;
    pelinor::MDIPocetak window(ui);
    window.show();
    // Files named on the command line open as if chosen one by one in the open command.
    for (const QString& file : line.files())
        window.openImage(file);
    return app.exec();
}
