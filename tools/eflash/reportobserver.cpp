#include "reportobserver.h"

#include <cstdio>

ReportObserver::ReportObserver(std::vector<FlashReport> &reports)
    : m_reports(reports)
{
}

void ReportObserver::note(std::size_t device, const std::string &text)
{
    m_reports[device].info(text);
}

void ReportObserver::progress(std::size_t device, const Progress &progress)
{
    m_reports[device].progress(progress.percent());
}

void ReportObserver::finished(std::size_t device, const Outcome &outcome)
{
    FlashReport &report = m_reports[device];
    if (!outcome.flashed) {
        report.error(outcome.error);
        return;
    }
    report.finish();
    char summary[160];
    std::snprintf(summary, sizeof summary, "Image of %zu bytes transferred in %.2f s (%d retransmissions)",
                  outcome.bytes, outcome.seconds, outcome.retransmissions);
    report.info(summary);
}
