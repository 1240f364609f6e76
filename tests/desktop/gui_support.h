// What the desktop program's window tests share: a scripted stand-in for the user, a
// main window on a fresh folder for each test, and small helpers for files and pictures.
#pragma once

#include "desktop/app/frm_pocetak.h"
#include "desktop/toolkit/ui_services.h"
#include "desktop/windows/frm_slika.h"
#include "image/image_io.h"
#include "image/picture.h"
#include "watermark/generator.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMdiArea>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pelinor::guitest {

using namespace Qt::StringLiterals;

inline const QString kSep = u" ¦ "_s;
inline const QString kOnly24 = u"C|Pelinor| 24-bit bitmaps only"_s;
// The main window's open and save filter: the bitmaps, then every supported format.
inline const QString kPictures
    = u"Bitmape (*.bmp);;Sve podržane slike (*.bmp *.png *.jpg *.jpeg *.tif *.tiff *.webp)"_s;
inline const QString kCtrlAltDel
    = u"Rad programa se u trenutnoj verziji može prekinuti samo s CTRL-ALT-DEL. :)"_s;
inline const QString kPalette = QStringLiteral(PELINOR_TESTDATA "/bmpsuite/g/pal8.bmp");

// A scripted stand-in for the user. It logs what the user meets as text: "I|title|text"
// for a message (W and C for the other icons, "|busy" under the hourglass), "Q|title|text"
// for a question, which it answers from a queue (an empty queue takes the default, No),
// "wait" and "done" for the hourglass, "open|title|filter|start" for a file dialog, which
// it answers from a queue (an empty queue cancels).
class FakeUi final : public UiServices {
public:
    void message(QWidget*, const QString& text, MessageIcon icon, const QString& title) override
    {
        log << QStringList{u"IWC"_s.mid(int(icon), 1), title, text}.join(u'|')
                + (m_depth > 0 ? u"|busy"_s : QString());
    }
    bool ask(QWidget*, const QString& text, const QString& title) override
    {
        log << QStringList{u"Q"_s, title, text}.join(u'|');
        return !replies.isEmpty() && replies.takeFirst();
    }
    std::optional<QString> chooseFile(QWidget*, const FileDialogRequest& request) override
    {
        log << QStringList{request.mode == FileDialogMode::Open ? u"open"_s : u"save"_s, request.title,
            request.filter, request.startPath}
                   .join(u'|');
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
    void beginWait() override
    {
        ++m_depth;
        log << u"wait"_s;
    }
    void endWait() override
    {
        --m_depth;
        log << u"done"_s;
    }
    QLocale numberLocale() const override { return locale; }
    void answer(const QString& path) { answers << path; }
    void cancel() { answers << std::nullopt; }
    // The log in one line; the file dialogs only when asked for.
    QString text(bool dialogs = false) const
    {
        QStringList shown;
        for (const QString& entry : log)
            if (dialogs || !(entry.startsWith(u"open|") || entry.startsWith(u"save|"))) shown << entry;
        return shown.join(kSep);
    }

    QStringList log;
    QList<std::optional<QString>> answers;
    QList<bool> replies;
    QLocale locale = QLocale::c();

private:
    int m_depth = 0;
};

// A 24-bit picture with texture everywhere, so its DCT coefficients are distinct.
inline PictureRef texturedPicture(int width, int height, unsigned seed)
{
    PictureRef picture = Picture::create(width, height);
    unsigned state = seed * 2654435761u + 12345u;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3 * width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int base = (x * 160) / (3 * width) + (y * 60) / height + (x % 3) * 10;
            picture->bits()[std::size_t(y) * picture->stride() + std::size_t(x)]
                = std::uint8_t(std::min(255, base + int(state >> 26)));
        }
    return picture;
}

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

inline QStringList readLines(const QString& path) // split at CRLF, without the final empty piece
{
    QStringList lines = QString::fromLatin1(readAll(path)).split(u"\r\n"_s);
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
    return lines;
}

inline std::vector<std::uint8_t> pixelsOf(const PictureRef& picture)
{
    return std::vector<std::uint8_t>(picture->bits(), picture->bits() + picture->byteCount());
}

// The first visible top-level widget of type T.
template <class T> T* shownTopLevel()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(widget); found != nullptr && found->isVisible()) return found;
    return nullptr;
}

// A shown main window on a fresh folder, with the stand-in as its user. A test class
// calls setUp() from its init() and tearDown() from its cleanup().
class GuiFixture {
protected:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeUi> m_ui;
    std::unique_ptr<MDIPocetak> m_window;

    void setUp()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_ui = std::make_unique<FakeUi>();
        m_window = std::make_unique<MDIPocetak>(*m_ui);
        m_window->show();
    }

    void tearDown()
    {
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_ui.reset();
        m_dir.reset();
    }

    // Answers the command's file dialog with `path` (with `active` the active
    // window); the image window it made, or nullptr.
    FrmSlika* run(QAction* command, const QString& path, FrmSlika* active = nullptr)
    {
        if (active != nullptr) m_window->mdiArea()->setActiveSubWindow(active);
        const qsizetype before = m_window->mdiArea()->subWindowList().size();
        m_ui->answer(path);
        command->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool made = m_window->mdiArea()->subWindowList().size() == before + 1;
        return made ? m_window->activeImageWindow() : nullptr;
    }

    FrmSlika* open(const QString& path) { return run(m_window->mnuOtvori, path); }

    QString bmp(const QString& name, int width = 48, int height = 40, unsigned seed = 1)
    {
        const QString path = m_dir->filePath(name);
        savePicture(*texturedPicture(width, height, seed), path.toStdString());
        return path;
    }

    QString wmk(const QString& name, int length = 100, double alpha = 0.3)
    {
        const QString path = m_dir->filePath(name);
        CoxGenMark(path.toStdString(), alpha, length, 12345, 0.0, 1.0);
        return path;
    }

    // Runs `command`, which shows a modal Dialog, and `script` on it once it is up.
    // Whatever the script leaves open is closed, so a failing check cannot hang.
    template <class Dialog> void withModal(QAction* command, const std::function<void(Dialog*)>& script)
    {
        bool ran = false;
        QTimer::singleShot(0, m_window.get(), [&] {
            QPointer<Dialog> dialog = m_window->findChild<Dialog*>();
            ran = !dialog.isNull() && dialog->isVisible();
            if (!ran) return;
            script(dialog.data());
            if (!dialog.isNull() && dialog->isVisible()) dialog->done(0);
        });
        command->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(ran, "the dialog was not shown");
    }
};

} // namespace pelinor::guitest
