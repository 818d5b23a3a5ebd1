#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// How the simulated device misbehaves on one request path, for fault tests.
// Every field left at its default means "behave like a device".
struct PathBehaviour
{
    int delayMs = 0;          // answer this much later
    bool hang = false;        // never answer, keep the connection open
    bool hold = false;        // answer only when released through the control input
    bool reset = false;       // drop the connection with a TCP reset instead of answering
    int status = 0;           // answer this status with an error page instead of the page
    qint64 fillerBytes = 0;   // send this many filler bytes ahead of the page
    bool binary = false;      // send raw bytes of every value ahead of the page
    bool hasBody = false;     // replace the page body with `body`
    QByteArray body;
};

// Behaviours by path; the path "*" applies to every path, and a behaviour
// given for the exact path overrides it field by field.
class PathBehaviours
{
public:
    PathBehaviour &forPath(const QString &path) { return m_byPath[path]; }

    PathBehaviour lookup(const QString &path) const;

private:
    QHash<QString, PathBehaviour> m_byPath;
};
