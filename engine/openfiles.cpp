#include "openfiles.h"

#include "processlimits.h"

#include <QLocale>

qint64 openFilesNeeded(const CaptureFeatures &features, bool relay)
{
    const qint64 perTracker = 1 + (relay ? 1 : 0) + features.mirrors.size();
    return qint64(features.maxTrackers) * perTracker + 100;
}

QString openFilesProblem(const CaptureFeatures &features, bool relay)
{
    if (features.maxTrackers <= 1)
        return {};
    const qint64 needed = openFilesNeeded(features, relay);
    const qint64 allowed = raiseDescriptorLimit();
    if (allowed < 0 || needed <= allowed)
        return {};
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    return QStringLiteral("--max-trackers %1 needs about %2 open files; this system allows %3.")
        .arg(features.maxTrackers)
        .arg(english.toString(needed), english.toString(allowed));
}
