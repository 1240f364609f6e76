#include "app/demo_script.h"
#include "app/frm_pocetak.h"
#include "app/startup.h"
#include "ui/ui_services.h"

#include <QApplication>
#include <QDirIterator>
#include <QIcon>
#include <QTimer>
#include <cstdio>

namespace {

// Every size of the icon that is built into the program (the same files as the
// installed icon theme's); the theme's own icon wins when one is installed.
QIcon appIcon()
{
    QIcon builtIn;
    QDirIterator it(
        QStringLiteral(":/icons"), {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        builtIn.addFile(it.next());
    return QIcon::fromTheme(QStringLiteral("hr.pelinor.Pelinor"), builtIn);
}

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
    QApplication::setWindowIcon(appIcon());
    QApplication::setDesktopFileName(QStringLiteral("hr.pelinor.Pelinor"));

    // Qt has taken its own options (-platform, -style...) out of the arguments by now.
    QStringList parsed = QApplication::arguments();
    parsed.removeIf([](const QString& argument) { return argument.startsWith(QLatin1String("--demo-")); });
    pelinor::CommandLine line;
    if (!line.parse(parsed)) return refuse(line);

    pelinor::QtUiServices real;
    pelinor::DemoScript demo(QApplication::arguments(), real);
    pelinor::UiServices& ui = demo.active() ? static_cast<pelinor::UiServices&>(demo) : real;

    pelinor::MDIPocetak window(ui);
    window.show();
    // Files named on the command line open as if chosen one by one in the open command.
    for (const QString& file : line.files())
        window.openImage(file);
    if (demo.active()) QTimer::singleShot(0, &window, [&] { demo.run(window); });
    return app.exec();
}
