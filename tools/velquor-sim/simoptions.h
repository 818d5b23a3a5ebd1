#pragma once

#include "bootloaderhost.h"
#include "webinterface.h"

#include <QCommandLineParser>
#include <QHostAddress>
#include <QString>
#include <QStringList>

// Everything the command line chooses. A new part of the simulated device
// (for example its boot loader) adds its own settings member here.
struct SimOptions
{
    QHostAddress address = QHostAddress(QStringLiteral("127.0.0.2"));
    quint16 port = 80;
    WebInterface::Settings web;
    bool bootLoader = false;
    BootLoaderHost::Settings boot;
    QString logFile;      // empty: standard output
    bool quitOnEof = false;
};

// Turns the command line into SimOptions and knows the help text.
class SimOptionsParser
{
public:
    enum class Outcome { Run, ShowHelp, Invalid };

    Outcome parse(const QStringList &arguments);

    const SimOptions &options() const { return m_options; }
    QString errorText() const { return m_error; }
    QString helpText() const { return m_help; }

private:
    bool fail(const QString &message);
    bool readGeneral(const QCommandLineParser &parser);
    bool readDevice(const QCommandLineParser &parser);
    bool readBehaviours(const QCommandLineParser &parser);
    bool readBootLoader(const QCommandLineParser &parser);

    SimOptions m_options;
    QString m_error;
    QString m_help;
};
