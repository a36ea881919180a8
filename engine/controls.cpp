#include "controls.h"

#include "capturefiles.h"
#include "datetimetext.h"

void Controls::prependChunkLines(QLatin1StringView asciiTag, QLatin1StringView hexTag, const QByteArray &chunk)
{
    prependToDataPane(CaptureFiles::asciiLine(DateTimeText::now(), asciiTag, chunk));
    prependToDataPane(CaptureFiles::hexLine(DateTimeText::now(), hexTag, chunk));
}
