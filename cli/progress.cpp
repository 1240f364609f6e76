#include "cli/progress.h"

#include <unistd.h>

namespace pelinor::cli {

namespace {
constexpr int kBarWidth = 30;
}

Progress::Progress(std::size_t total, bool enabled)
    : m_total(total)
    , m_enabled(enabled)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    drawLocked();
}

Progress::~Progress()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    clearLocked();
}

bool Progress::stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void Progress::print(std::FILE* out, const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    clearLocked();
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
    drawLocked();
}

void Progress::advance()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_done;
    drawLocked();
}

void Progress::clearLocked()
{
    if (!m_enabled) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

void Progress::drawLocked()
{
    if (!m_enabled || m_total == 0) return;
    const int filled = int(m_done * kBarWidth / m_total);
    std::string bar(std::size_t(filled), '#');
    bar.append(std::size_t(kBarWidth - filled), '.');
    std::fprintf(stderr, "\r[%s] %zu/%zu", bar.c_str(), m_done, m_total);
    std::fflush(stderr);
}

} // namespace pelinor::cli
