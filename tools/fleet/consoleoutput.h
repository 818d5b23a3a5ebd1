#pragma once

#include <QString>

// Plain text to the two standard streams, flushed at once so that a reader
// at the other end of a pipe sees each line as it happens. The human lines
// go to standard output, or to standard error once a machine reads the
// output (--json).
void printOut(const QString &text);
void printError(const QString &text);
void moveHumanOutputToError();
// For the machine: bytes to standard output as they are.
void printForMachine(const QByteArray &bytes);
// Whether the human lines reach a terminal.
bool outputIsTerminal();
bool errorIsTerminal();
bool inputIsTerminal();
// Asks on standard output and reads the answer from standard input: true
// only for "y" or "yes".
bool askYesNo(const QString &question);
