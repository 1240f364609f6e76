#include "tools/demo_script.h"

#include "desktop/app/frm_pocetak.h"
#include "desktop/toolkit/texts.h"
#include "desktop/windows/frm_test.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace pelinor {

namespace {

QString option(const QStringList& arguments, const QString& name)
{
    const QString prefix = QStringLiteral("--") + name + QLatin1Char('=');
    for (const QString& argument : arguments)
        if (argument.startsWith(prefix)) return argument.mid(prefix.size());
    return QString();
}

} // namespace

DemoScript::DemoScript(const QStringList& arguments, UiServices& real)
    : m_real(real)
    , m_open(option(arguments, QStringLiteral("open")).split(u'|', Qt::SkipEmptyParts))
    , m_embed(option(arguments, QStringLiteral("embed")))
    , m_dialog(option(arguments, QStringLiteral("dialog")))
    , m_test(option(arguments, QStringLiteral("test")).split(u'|', Qt::SkipEmptyParts))
{
}

void DemoScript::run(MDIPocetak& window)
{
    for (const QString& image : m_open) {
        m_answers.push_back(image);
        window.mnuOtvori_Click();
    }
    if (!m_embed.isEmpty()) {
        m_answers.push_back(m_embed);
        window.mnuEmbed_Click();
    }
    if (m_test.size() == 3) {
        // Filled in and run once the dialog is up; "ready" comes with its answer.
        QTimer::singleShot(100, &window, [this] {
            auto* dialog = qobject_cast<FrmTest*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            for (int i = 0; i < 3; ++i)
                dialog->txtParametar[i]->setText(m_test[i]);
            dialog->cmdTestiraj->click();
        });
        window.mnuTest_Click();
        return;
    }
    std::printf("demo: ready\n");
    std::fflush(stdout);
    if (m_dialog == QLatin1String("gen"))
        window.mnuGen_Click();
    else if (m_dialog == QLatin1String("test"))
        window.mnuTest_Click();
    else if (m_dialog == QLatin1String("about"))
        window.mnuAbout_Click();
}

void DemoScript::message(QWidget* parent, const QString& text, MessageIcon icon, const QString& title)
{
    std::printf("demo: message [%s] %s\n", qPrintable(title), qPrintable(text));
    std::fflush(stdout);
    if (m_test.size() == 3 && title != text::kNoticeTitle) {
        std::printf("demo: ready\n");
        std::fflush(stdout);
        m_real.message(parent, text, icon, title);
    }
}

std::optional<QString> DemoScript::chooseFile(QWidget* parent, const FileDialogRequest& request)
{
    if (m_answers.empty()) return m_real.chooseFile(parent, request);
    QString answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

} // namespace pelinor
