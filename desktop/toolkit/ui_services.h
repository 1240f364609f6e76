// The one door through which the windows talk to the user outside their own
// controls: message boxes, file dialogs, the wait cursor and the number locale.
// The program uses QtUiServices; tests put a scripted fake in its place.
#pragma once

#include <QLocale>
#include <QString>
#include <optional>

class QWidget;

namespace pelinor {

enum class MessageIcon { Information, Warning, Critical };

enum class FileDialogMode { Open, Save };

// What a file dialog is asked to show. The options are fixed for this program:
// no overwrite prompt, no default extension, no check that the file exists.
struct FileDialogRequest {
    FileDialogMode mode = FileDialogMode::Open;
    QString title;
    QString filter; // Qt form: "Bitmape (*.bmp)"; entries joined by ";;"
    QString startPath; // the file-name field's starting text
};

class UiServices {
public:
    virtual ~UiServices() = default;

    // A modal message box with one OK button.
    virtual void message(QWidget* parent, const QString& text, MessageIcon icon, const QString& title) = 0;

    // A modal question with Yes and No; No is the default (Enter and Escape answer No).
    // True when the user answered Yes.
    virtual bool ask(QWidget* parent, const QString& text, const QString& title) = 0;

    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<QString> chooseFile(QWidget* parent, const FileDialogRequest& request) = 0;

    // The hourglass; calls nest. Use WaitCursor rather than calling these directly.
    virtual void beginWait() = 0;
    virtual void endWait() = 0;

    // The locale numbers are typed and shown in.
    virtual QLocale numberLocale() const = 0;

    // The last path chosen in a file dialog, kept from one run to the next. A stand-in
    // that keeps nothing starts every run with an empty file-name field.
    virtual QString storedPath() const { return {}; }
    virtual void storePath(const QString& /*path*/) { }
};

// The hourglass for the lifetime of the guard, restored on every way out.
class WaitCursor {
public:
    explicit WaitCursor(UiServices& ui)
        : m_ui(&ui)
    {
        m_ui->beginWait();
    }
    ~WaitCursor() { release(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    // Restores the cursor early (before a message that follows the work).
    void release()
    {
        if (m_ui != nullptr) m_ui->endWait();
        m_ui = nullptr;
    }

private:
    UiServices* m_ui;
};

// The real thing: QMessageBox, QFileDialog, the application's override cursor,
// QLocale::system(), and the user's settings file (QSettings, ~/.config/pelinor/pelinor.conf).
class QtUiServices final : public UiServices {
public:
    void message(QWidget* parent, const QString& text, MessageIcon icon, const QString& title) override;
    bool ask(QWidget* parent, const QString& text, const QString& title) override;
    std::optional<QString> chooseFile(QWidget* parent, const FileDialogRequest& request) override;
    void beginWait() override;
    void endWait() override;
    QLocale numberLocale() const override;
    QString storedPath() const override;
    void storePath(const QString& path) override;
};

} // namespace pelinor
