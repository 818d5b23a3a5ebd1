#include "progressview.h"

#include "consoleoutput.h"

namespace {

constexpr int barWidth = 20;
// Redraws at most this often, however fast eflash.exe prints.
constexpr int redrawIntervalMs = 100;

} // namespace

ProgressView::ProgressView(bool terminal, int total, QObject *parent)
    : QObject(parent)
    , m_terminal(terminal)
    , m_total(total)
{
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(redrawIntervalMs);
    connect(&m_redraw, &QTimer::timeout, this, &ProgressView::redraw);
}

void ProgressView::setStage(const QString &address, const QString &kind, const QString &stage)
{
    Line &line = m_lines[address];
    line.kind = kind;
    if (line.stage != stage)
        line.lastPrintedStep = -1;
    line.stage = stage;
    if (m_terminal)
        scheduleRedraw();
    else
        printOut(QStringLiteral("%1 %2\n").arg(address, stage));
}

void ProgressView::setPercent(const QString &address, int percent)
{
    Line &line = m_lines[address];
    line.percent = percent;
    if (m_terminal) {
        scheduleRedraw();
        return;
    }
    const int step = percent / 10;
    if (step > line.lastPrintedStep) {
        line.lastPrintedStep = step;
        printOut(QStringLiteral("%1 %2 %3%\n").arg(address, line.stage).arg(step * 10));
    }
}

void ProgressView::finishDevice(const QString &address, const QString &outcome, bool good)
{
    m_lines.remove(address);
    ++m_done;
    if (good)
        ++m_good;
    if (!m_terminal) {
        printOut(QStringLiteral("%1 %2\n").arg(address, outcome));
        return;
    }
    // The lasting line goes above the live block.
    if (m_drawnLines > 0)
        printOut(QStringLiteral("\x1b[%1F\x1b[J").arg(m_drawnLines));
    m_drawnLines = 0;
    printOut(QStringLiteral("%1 %2\n").arg(address, outcome));
    redraw();
}

void ProgressView::close()
{
    m_redraw.stop();
    if (m_terminal && m_drawnLines > 0)
        printOut(QStringLiteral("\x1b[%1F\x1b[J").arg(m_drawnLines));
    m_drawnLines = 0;
}

void ProgressView::scheduleRedraw()
{
    if (!m_redraw.isActive())
        m_redraw.start();
}

QString ProgressView::liveText(const QString &address, const Line &line) const
{
    const int filled = line.percent * barWidth / 100;
    return QStringLiteral("%1 %2 %3 %4% [%5%6]")
        .arg(address, -15).arg(line.kind, -18).arg(line.stage, -10).arg(line.percent, 3)
        .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char(' ')));
}

void ProgressView::redraw()
{
    QString text;
    if (m_drawnLines > 0)
        text += QStringLiteral("\x1b[%1F\x1b[J").arg(m_drawnLines);
    for (auto it = m_lines.constBegin(); it != m_lines.constEnd(); ++it)
        text += liveText(it.key(), it.value()) + QLatin1Char('\n');
    text += QStringLiteral("%1 of %2 done, %3 updated, %4 in flight\n")
                .arg(m_done).arg(m_total).arg(m_good).arg(m_lines.size());
    m_drawnLines = m_lines.size() + 1;
    printOut(text);
}
