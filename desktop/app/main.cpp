#include "desktop/app/frm_pocetak.h"
#include "desktop/app/startup.h"
#include "desktop/toolkit/ui_services.h"

#include <QApplication>
#include <cstdio>

namespace {

// An unknown option: what was wrong, then the usage, as command-line tools answer it.
int refuse(const pelinor::CommandLine& line)
{
    std::fprintf(stderr, "pelinor: %s\n\n%s", qPrintable(line.errorText()), qPrintable(line.helpText()));
    return 2;
}

// The arguments as given, the program's name first, less the window system's options.
QStringList ownArguments(const QStringList& arguments)
{
    return arguments.mid(0, 1) + pelinor::withoutQtOptions(arguments.mid(1));
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // --help, --version and unknown options are answered with a text; that must work
    // without a display, so no window system is touched for them.
    if (pelinor::answeredWithTextOnly(arguments)) {
        QCoreApplication app(argc, argv);
        pelinor::setApplicationIdentity();
        pelinor::installQtTranslation(app);
        pelinor::CommandLine line;
        if (!line.parse(ownArguments(QCoreApplication::arguments()))) return refuse(line);
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
