#include "cli/progress.h"

#include <algorithm>
#include <cmath>
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

std::string Progress::timeLeftText(double elapsedSeconds, long long done, long long total)
{
    if (done <= 0 || !(elapsedSeconds >= 0)) return "estimating the time left";
    const double left = elapsedSeconds * double(std::max(total - done, 0LL)) / double(done);
    const long long s = std::llround(std::min(left, 1e9));
    char text[64];
    if (s < 60)
        std::snprintf(text, sizeof text, "about %lld s left", s);
    else if (s < 3600)
        std::snprintf(text, sizeof text, "about %lld min %02lld s left", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "about %lld h %02lld min left", s / 3600, s / 60 % 60);
    return text;
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
