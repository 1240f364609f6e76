#include "tools/demo_script.h"

#include "desktop/app/frm_pocetak.h"

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
    , m_open(option(arguments, QStringLiteral("open")))
    , m_embed(option(arguments, QStringLiteral("embed")))
    , m_dialog(option(arguments, QStringLiteral("dialog")))
{
}

void DemoScript::run(MDIPocetak& window)
{
    if (!m_open.isEmpty()) {
        m_answers.push_back(m_open);
        window.mnuOtvori_Click();
    }
    if (!m_embed.isEmpty()) {
        m_answers.push_back(m_embed);
        window.mnuEmbed_Click();
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

void DemoScript::message(QWidget*, const QString& text, MessageIcon, const QString& title)
{
    std::printf("demo: message [%s] %s\n", qPrintable(title), qPrintable(text));
    std::fflush(stdout);
}

std::optional<QString> DemoScript::chooseFile(QWidget* parent, const FileDialogRequest& request)
{
    if (m_answers.empty()) return m_real.chooseFile(parent, request);
    QString answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

} // namespace pelinor
