#pragma once

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

// Shows the devices in flight. On a terminal: a live line per device
// (address, kind, stage, percent, a bar) and a total line, redrawn in place;
// otherwise plain lines, at most one per device per 10 % of its flash.
class ProgressView : public QObject
{
    Q_OBJECT

public:
    ProgressView(bool terminal, int total, QObject *parent = nullptr);

    void setStage(const QString &address, const QString &kind, const QString &stage);
    void setPercent(const QString &address, int percent);
    // Ends the device's live line with a lasting one.
    void finishDevice(const QString &address, const QString &outcome, bool good);
    void close();

private:
    struct Line
    {
        QString kind;
        QString stage;
        int percent = 0;
        int lastPrintedStep = -1;
    };

    void redraw();
    void scheduleRedraw();
    QString liveText(const QString &address, const Line &line) const;

    bool m_terminal;
    int m_total;
    int m_done = 0;
    int m_good = 0;
    int m_drawnLines = 0;
    QMap<QString, Line> m_lines;
    QTimer m_redraw;
};
