#include "desktop/toolkit/ui_services.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>

namespace pelinor {

namespace {

const QString kLastPathKey = QStringLiteral("FileDialog/lastPath");

// Explicit names rather than the application's, so the tests and the program agree.
QSettings userSettings()
{
    return QSettings(
        QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("pelinor"), QStringLiteral("pelinor"));
}

QMessageBox::Icon toQt(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void QtUiServices::message(QWidget* parent, const QString& text, MessageIcon icon, const QString& title)
{
    QMessageBox box(toQt(icon), title, text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtUiServices::ask(QWidget* parent, const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtUiServices::chooseFile(QWidget* parent, const FileDialogRequest& request)
{
    QFileDialog dialog(parent, request.title);
    dialog.setNameFilter(request.filter);
    // AnyFile also for opening: the dialog does not check that the file exists,
    // the command that uses the path reports a missing file.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(
        request.mode == FileDialogMode::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setDefaultSuffix(QString());
    if (!request.startPath.isEmpty()) dialog.selectFile(request.startPath);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return chosen.front();
}

void QtUiServices::beginWait()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtUiServices::endWait()
{
    QApplication::restoreOverrideCursor();
}

QLocale QtUiServices::numberLocale() const
{
    return QLocale::system();
}

QString QtUiServices::storedPath() const
{
    return userSettings().value(kLastPathKey).toString();
}

void QtUiServices::storePath(const QString& path)
{
    // Written at once: a program that is killed later still remembers.
    QSettings settings = userSettings();
    settings.setValue(kLastPathKey, path);
    settings.sync();
}

} // namespace pelinor
