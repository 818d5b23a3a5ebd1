#include "targetlist.h"

#include "ipv4text.h"

#include <QFile>
#include <QSet>
#include <QTextStream>

namespace {

// Files naming files stop here rather than recursing forever.
constexpr int deepestFileNesting = 8;

} // namespace

QString TargetList::text(quint32 address)
{
    return formatIpv4(address);
}

bool TargetList::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool TargetList::addAll(const QStringList &targets)
{
    for (const QString &target : targets) {
        if (!add(target))
            return false;
    }
    return true;
}

bool TargetList::add(const QString &rawTarget)
{
    const QString target = rawTarget.trimmed();
    if (target.startsWith(QLatin1Char('@')))
        return addFile(target.mid(1));

    const int slash = target.indexOf(QLatin1Char('/'));
    if (slash >= 0) {
        const std::optional<quint32> base = parseIpv4(target.left(slash));
        bool numberOk = false;
        const QString lengthText = target.mid(slash + 1);
        const int length = lengthText.toInt(&numberOk, 10);
        if (!base || !numberOk || length < 0 || length > 32 || lengthText.startsWith(QLatin1Char('+')))
            return fail(QStringLiteral("not an address block: \"%1\"").arg(target));
        if (length < 16)
            return fail(QStringLiteral("block \"%1\" is wider than /16 (%2 addresses); split it into /16 blocks or smaller")
                            .arg(target).arg(quint64(1) << (32 - length)));
        const quint32 mask = length == 0 ? 0 : ~quint32(0) << (32 - length);
        return addSpan(*base & mask, (*base & mask) | ~mask, target);
    }

    const int dash = target.indexOf(QLatin1Char('-'));
    if (dash >= 0) {
        const std::optional<quint32> first = parseIpv4(target.left(dash));
        const QString endText = target.mid(dash + 1);
        std::optional<quint32> last = parseIpv4(endText);
        if (first && !last && !endText.contains(QLatin1Char('.'))) {
            // "10.0.5.20-60": the end replaces the last number only.
            const std::optional<quint32> lastByte = parseIpv4Number(endText);
            if (lastByte)
                last = (*first & 0xFFFFFF00u) | *lastByte;
        }
        if (!first || !last)
            return fail(QStringLiteral("not an address range: \"%1\"").arg(target));
        if (*last < *first)
            return fail(QStringLiteral("range \"%1\" ends before it starts").arg(target));
        return addSpan(*first, *last, target);
    }

    const std::optional<quint32> address = parseIpv4(target);
    if (!address)
        return fail(QStringLiteral("not an IPv4 address: \"%1\"").arg(target));
    return addSpan(*address, *address, target);
}

bool TargetList::addSpan(quint32 first, quint32 last, const QString &target)
{
    if (quint64(last) - first + 1 > largestSpan)
        return fail(QStringLiteral("range \"%1\" holds %2 addresses, more than a /16 (%3)")
                        .arg(target).arg(quint64(last) - first + 1).arg(largestSpan));
    for (quint64 address = first; address <= last; ++address) {
        const quint32 value = quint32(address);
        if (m_seen.contains(value))
            continue;
        m_seen.insert(value);
        m_addresses.append(value);
    }
    return true;
}

bool TargetList::addFile(const QString &path)
{
    if (m_fileDepth >= deepestFileNesting)
        return fail(QStringLiteral("target files nested deeper than %1 at \"@%2\"").arg(deepestFileNesting).arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail(QStringLiteral("cannot read target file \"%1\": %2").arg(path, file.errorString()));
    QTextStream lines(&file);
    int lineNumber = 0;
    ++m_fileDepth;
    while (!lines.atEnd()) {
        QString line = lines.readLine();
        ++lineNumber;
        const int comment = line.indexOf(QLatin1Char('#'));
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (!add(line)) {
            --m_fileDepth;
            return fail(QStringLiteral("%1:%2: %3").arg(path).arg(lineNumber).arg(m_error));
        }
    }
    --m_fileDepth;
    return true;
}
