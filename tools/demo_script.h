// The screenshot driver's script: replays a few menu commands of the main window with the
// file dialogs answered in advance and the messages printed instead of shown, so the
// program can be photographed without anyone at the keyboard.
//   --open=IMAGE[|IMAGE...] --embed=WATERMARK   open the images, embed the watermark
//   --dialog=gen|test|about          then open that dialog
//   --test=ORIGINAL|WATERMARK|SUSPECT  run the test dialog on the three files; its answer (an
//                                    error included) is shown for real, the notice only printed
#pragma once

#include "desktop/toolkit/ui_services.h"

#include <QString>
#include <QStringList>
#include <deque>

namespace pelinor {

class MDIPocetak;

class DemoScript final : public UiServices {
public:
    DemoScript(const QStringList& arguments, UiServices& real);

    // Runs the commands on `window`; call once the window is shown.
    void run(MDIPocetak& window);

    void message(QWidget* parent, const QString& text, MessageIcon icon, const QString& title) override;
    bool ask(QWidget* parent, const QString& text, const QString& title) override
    {
        return m_real.ask(parent, text, title);
    }
    std::optional<QString> chooseFile(QWidget* parent, const FileDialogRequest& request) override;
    void beginWait() override { m_real.beginWait(); }
    void endWait() override { m_real.endWait(); }
    QLocale numberLocale() const override { return m_real.numberLocale(); }

private:
    UiServices& m_real;
    QStringList m_open;
    QString m_embed;
    QString m_dialog;
    QStringList m_test;
    std::deque<QString> m_answers;
};

} // namespace pelinor
