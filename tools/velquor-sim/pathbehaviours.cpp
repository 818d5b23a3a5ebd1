#include "pathbehaviours.h"

PathBehaviour PathBehaviours::lookup(const QString &path) const
{
    PathBehaviour result = m_byPath.value(QStringLiteral("*"));
    if (!m_byPath.contains(path))
        return result;
    const PathBehaviour exact = m_byPath.value(path);
    if (exact.delayMs)
        result.delayMs = exact.delayMs;
    result.hang = result.hang || exact.hang;
    result.hold = result.hold || exact.hold;
    result.reset = result.reset || exact.reset;
    if (exact.status)
        result.status = exact.status;
    if (exact.fillerBytes)
        result.fillerBytes = exact.fillerBytes;
    result.binary = result.binary || exact.binary;
    if (exact.hasBody) {
        result.hasBody = true;
        result.body = exact.body;
    }
    return result;
}
