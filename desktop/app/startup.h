// What main() does before the main window appears: the command line, and Qt's own
// texts (file dialogs, standard buttons) in Croatian like the rest of the program.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

class QCoreApplication;
class QIcon;

namespace pelinor {

// The application's name and version, as --version and the window system show them.
void setApplicationIdentity();

// Installs Qt's Croatian translation from Qt's translations folder (on Debian the
// package qt6-translations-l10n). Returns whether it was found; without it Qt's own
// texts stay English and the program works as before.
bool installQtTranslation(QCoreApplication& app);

// The window icon: every size built into the program (the same files as the installed icon
// theme's, from the executable's resources); the theme's own icon wins when one is installed.
QIcon applicationIcon();

// The arguments (without the program's own name) less the window system's options
// (-platform offscreen, -style=fusion, -display :1...), which QApplication takes out
// itself, so that the rest can be judged before a display is opened.
QStringList withoutQtOptions(const QStringList& arguments);

// Whether the arguments (without the program's own name) are answered with a text alone,
// without a display: the help, the version, or the usage after an unknown option.
bool answeredWithTextOnly(const QStringList& arguments);

// The command line of `pelinor`: -h/--help, -v/--version and the picture files to open.
class CommandLine {
public:
    CommandLine();

    // `arguments` with the program's name first. False for an unknown option (errorText).
    bool parse(const QStringList& arguments);

    bool help() const { return m_parser.isSet(m_help); }
    bool version() const { return m_parser.isSet(m_version); }
    // The picture files, made absolute: captions show full paths, as after the file dialog.
    QStringList files() const;

    QString helpText() const { return m_parser.helpText(); }
    QString versionText() const;
    QString errorText() const { return m_parser.errorText(); }

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
};

} // namespace pelinor
