#pragma once

#include <QProcessEnvironment>
#include <QString>

// Where the fleet tool finds arpping.exe and eflash.exe: next to the program
// itself (a build's bin/), else in ../libexec/zudiruv beside it, where the
// package installs them. Never the working directory: a folder another user
// can write would hand that user whatever runs there, as root too.
struct LocatedTool
{
    QString path;  // empty when not found or refused
    QString error; // why, naming the file or folder
};

LocatedTool locateTool(const QString &fileName);

// Refuses `path` when the file, or any folder on its way from the root, can
// be changed by someone else: writable by group or others (a sticky folder
// owned by root, such as /tmp, excepted) or owned by neither root nor the
// user. Empty when it is safe, otherwise the reason.
QString unsafePathReason(const QString &path);

// The environment the tools run in: this program's, without the devices'
// password.
QProcessEnvironment toolEnvironment();
