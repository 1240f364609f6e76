#include "desktop/app/startup.h"

#include "desktop/toolkit/texts.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <algorithm>

namespace pelinor {

void setApplicationIdentity()
{
    QCoreApplication::setApplicationName(text::kAppTitle);
    QCoreApplication::setApplicationVersion(QStringLiteral(PELINOR_VERSION));
}

bool installQtTranslation(QCoreApplication& app)
{
    // The program speaks Croatian whatever the user's locale, so Qt's texts do too.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Croatian, QLocale::Croatia), QStringLiteral("qt"),
            QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

QIcon applicationIcon()
{
    QIcon builtIn;
    QDirIterator it(
        QStringLiteral(":/icons"), {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        builtIn.addFile(it.next());
    return QIcon::fromTheme(QStringLiteral("hr.pelinor.Pelinor"), builtIn);
}

QStringList withoutQtOptions(const QStringList& arguments)
{
    // The window system's options that QApplication takes out of the arguments itself,
    // written with one dash or two; the first group takes the next argument as its value.
    static const QStringList withValue
        = {QStringLiteral("platform"), QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
            QStringLiteral("plugin"), QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
            QStringLiteral("qwindowtitle"), QStringLiteral("session"), QStringLiteral("display"),
            QStringLiteral("geometry"), QStringLiteral("style"), QStringLiteral("stylesheet")};
    static const QStringList alone = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
        QStringLiteral("nograb"), QStringLiteral("dograb"), QStringLiteral("sync")};
    static const QStringList withEquals = {QStringLiteral("style="), QStringLiteral("stylesheet="),
        QStringLiteral("qmljsdebugger="), QStringLiteral("dialogs="), QStringLiteral("fontengine=")};
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--")) {
            kept << arguments.mid(i); // file names follow
            break;
        }
        QStringView name(argument);
        if (name.startsWith(QLatin1String("--")))
            name = name.mid(2);
        else if (name.startsWith(u'-'))
            name = name.mid(1);
        else {
            kept << argument;
            continue;
        }
        if (withValue.contains(name) && i + 1 < arguments.size()) {
            ++i;
            continue;
        }
        if (alone.contains(name)) continue;
        if (std::any_of(
                withEquals.begin(), withEquals.end(), [&](const QString& s) { return name.startsWith(s); }))
            continue;
        kept << argument;
    }
    return kept;
}

bool answeredWithTextOnly(const QStringList& arguments)
{
    static const QStringList asking = {QStringLiteral("-h"), QStringLiteral("--help"), QStringLiteral("-?"),
        QStringLiteral("-v"), QStringLiteral("--version")};
    const QStringList own = withoutQtOptions(arguments);
    for (const QString& argument : own) {
        if (argument == QLatin1String("--")) break; // file names follow
        if (asking.contains(argument)) return true;
    }
    // An unknown option is answered with the usage, and no window is opened for it.
    CommandLine line;
    return !line.parse(QStringList{QStringLiteral("pelinor")} + own);
}

// Our own help and version options rather than Qt's, whose descriptions Qt's Croatian
// translation leaves partly in English.
CommandLine::CommandLine()
    : m_help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
        QStringLiteral("Prikazuje ovu pomoć i završava."))
    , m_version({QStringLiteral("v"), QStringLiteral("version")},
          QStringLiteral("Prikazuje naziv i verziju programa i završava."))
{
    m_parser.setApplicationDescription(
        QStringLiteral("Nevidljivi vodeni žig u slikama po metodi Cox et al. (vidi i pelinor-cli)."));
    m_parser.addOption(m_help);
    m_parser.addOption(m_version);
    m_parser.addPositionalArgument(QStringLiteral("datoteke"),
        QStringLiteral("Slike koje se otvaraju pri pokretanju, svaka u svom prozoru."),
        QStringLiteral("[datoteke...]"));
}

bool CommandLine::parse(const QStringList& arguments)
{
    return m_parser.parse(arguments);
}

QStringList CommandLine::files() const
{
    QStringList files;
    for (const QString& file : m_parser.positionalArguments())
        files << QFileInfo(file).absoluteFilePath();
    return files;
}

QString CommandLine::versionText() const
{
    return QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion()
        + QLatin1Char('\n');
}

} // namespace pelinor
