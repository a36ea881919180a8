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
    const QString timestamp = DateTimeText::now();
    for (qsizetype start = 0; start < lines.size();) {
        const qsizetype end = lines.indexOf('\n', start) + 1;
        prependToDataPane(timestamp + QString::fromUtf8(QByteArrayView(lines).sliced(start, end - start)));
        start = end;
    }
}
