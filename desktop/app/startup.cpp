#include "desktop/app/startup.h"

#include "desktop/toolkit/texts.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

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

bool asksForTextOnly(const QStringList& arguments)
{
    static const QStringList asking = {QStringLiteral("-h"), QStringLiteral("--help"), QStringLiteral("-?"),
        QStringLiteral("-v"), QStringLiteral("--version")};
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--")) break; // file names follow
        if (asking.contains(argument)) return true;
    }
    return false;
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
