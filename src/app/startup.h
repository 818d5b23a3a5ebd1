#pragma once

#include <QUrl>

// Runs the program from its entry point to the end of the event loop with
// `rootScene` as the root scene document. Returns the process exit code:
// the event loop's result, or -1 when the root scene cannot be loaded.
int runApplication(int &argc, char **argv, const QUrl &rootScene);
