#include "consoleoutput.h"
#include "fleetoptions.h"
#include "fleetrun.h"

#include <QCoreApplication>

// Finds every Velquor device in address ranges and updates them all.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zudiruv-fleet"));

    FleetOptions options;
    int exitCode = 0;
    if (!parseFleetOptions(argc, argv, &options, &exitCode))
        return exitCode;

    if (options.json)
        moveHumanOutputToError();
    FleetRun run(options);
    QObject::connect(&run, &FleetRun::done, &app, &QCoreApplication::exit);
    exitCode = run.start();
    if (exitCode >= 0)
        return exitCode;
    return app.exec();
}
