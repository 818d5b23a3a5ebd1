#pragma once

#include <QString>

// Plain text to the two standard streams, flushed at once so that a reader
// at the other end of a pipe sees each line as it happens.
void printOut(const QString &text);
void printError(const QString &text);
bool outputIsTerminal();
bool errorIsTerminal();
bool inputIsTerminal();
// Asks on standard output and reads the answer from standard input: true
// only for "y" or "yes".
bool askYesNo(const QString &question);
