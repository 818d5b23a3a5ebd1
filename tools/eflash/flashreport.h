#pragma once

#include <string>

// What the flasher tells its caller on standard output, one flushed line at a
// time. The caller reads two kinds of line: "Complete:" with the percentage
// between the line's last space and a percent sign, and "ERROR" lines.
// Nothing else may contain either marker, and no text, whoever wrote it,
// may break a line: control characters are printed escaped.
class FlashReport
{
public:
    // `prefix` starts every line: the device's address when several are
    // flashed in one run.
    explicit FlashReport(bool verbose, std::string prefix = {});

    void info(const std::string &text) const;
    // Prints a line only when the percentage has risen.
    void progress(int percent);
    // The last block is acknowledged: 100, also for an empty image.
    void finish();
    void error(const std::string &reason) const;

private:
    void print(int percent);

    bool m_verbose;
    std::string m_prefix;
    int m_lastPercent = -1;
};

// Text a device sent (a file name, an error message), made fit to stand
// inside one of our lines: every byte outside printable ASCII, and the
// backslash, as \xNN, and the two markers broken up the same way, so no
// device can forge a progress or an error line.
std::string deviceText(const std::string &text);
