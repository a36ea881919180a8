#include "countingcontrols.h"

#include "capturefiles.h"

void CountingControls::prependToDataPane(const QString &line)
{
    ++m_paneLines;
    for (const QLatin1StringView tag : {CaptureFiles::InHexTag, CaptureFiles::ReturnHexTag}) {
        const qsizetype at = line.indexOf(tag);
        if (at >= 0) {
            const qsizetype payload = line.size() - at - tag.size() - CaptureFiles::LineEnd.size();
            m_hexBytes[tag] += payload / 2;
            return;
        }
    }
    for (const QLatin1StringView tag : {CaptureFiles::InAsciiTag, CaptureFiles::ReturnAsciiTag}) {
        if (line.contains(tag))
            return;
    }
    m_otherLines.append(line);
}
