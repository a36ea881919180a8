#include "controls.h"

#include "capturefiles.h"
#include "datetimetext.h"

void Controls::prependChunkLines(QLatin1StringView asciiTag, QLatin1StringView hexTag, const QByteArray &chunk)
{
    prependToDataPane(CaptureFiles::asciiLine(DateTimeText::now(), asciiTag, chunk));
    prependToDataPane(CaptureFiles::hexLine(DateTimeText::now(), hexTag, chunk));
}

void Controls::prependDecodedLines(const QByteArray &lines)
{
    for (const QString &line : decodedPaneLines(DateTimeText::now(), lines))
        prependToDataPane(line);
}

QStringList Controls::decodedPaneLines(const QString &timestamp, const QByteArray &lines)
{
    QStringList paneLines;
    for (qsizetype start = 0; start < lines.size();) {
        const qsizetype end = lines.indexOf('\n', start) + 1;
        paneLines.append(timestamp + QString::fromUtf8(QByteArrayView(lines).sliced(start, end - start)));
        start = end;
    }
    return paneLines;
}
