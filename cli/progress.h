// A progress bar on stderr for batch work, drawn only when stderr is a terminal, and
// printing of per-item lines from several threads without tearing the bar.
#pragma once

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace pelinor::cli {

class Progress {
public:
    // `total` items; the bar is drawn only if `enabled` (normally: stderr is a terminal).
    Progress(std::size_t total, bool enabled);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Prints one line (newline added) to `out`, clearing and redrawing the bar around it.
    void print(std::FILE* out, const std::string& line);
    // Counts one item as done and redraws.
    void advance();

    static bool stderrIsTerminal();

    // The estimate a progress line ends with: "about 2 min 05 s left" from the seconds spent
    // on `done` of `total` units, assuming the rest goes at the same pace.
    static std::string timeLeftText(double elapsedSeconds, long long done, long long total);

private:
    void clearLocked();
    void drawLocked();

    std::mutex m_mutex;
    std::size_t m_total;
    std::size_t m_done = 0;
    bool m_enabled;
};

} // namespace pelinor::cli
