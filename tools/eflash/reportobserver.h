#pragma once

#include "flashobserver.h"
#include "flashreport.h"

#include <vector>

// Turns what a flash run reports into eflash.exe's output lines, one
// FlashReport per device.
class ReportObserver : public FlashObserver
{
public:
    explicit ReportObserver(std::vector<FlashReport> &reports);

    void note(std::size_t device, const std::string &text) override;
    void progress(std::size_t device, const Progress &progress) override;
    void finished(std::size_t device, const Outcome &outcome) override;

private:
    std::vector<FlashReport> &m_reports;
};
