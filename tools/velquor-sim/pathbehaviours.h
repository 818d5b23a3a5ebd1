#pragma once

#include "pathbehaviour.h"

#include <QHash>
#include <QString>

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
