#pragma once

#include <cstddef>
#include <string>

// What the flasher tells its caller on standard output, one flushed line at a
// time. The caller reads two kinds of line: "Complete:" with the percentage
// between the line's last space and a percent sign, and "ERROR" lines.
// Nothing else may contain either marker.
class FlashReport
{
public:
    explicit FlashReport(bool verbose);

    void info(const std::string &text) const;
    // Prints a line only when the whole percentage has risen.
    void progress(std::size_t done, std::size_t total);
    // The last block is acknowledged: 100, also for an empty image.
    void finish();
    void error(const std::string &reason) const;

private:
    void print(int percent);

    bool m_verbose;
    int m_lastPercent = -1;
};
