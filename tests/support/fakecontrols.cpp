#include "fakecontrols.h"

#include "capturefiles.h"

#include <QRegularExpression>

FakeControls::FakeControls()
{
    texts[Control::InPort] = QStringLiteral("5000");
    texts[Control::OutPort] = QStringLiteral("5001");
    texts[Control::OutHost] = QStringLiteral("127.0.0.1");
    texts[Control::CommandType] = QStringLiteral("ASCII");
}

void FakeControls::setEnabled(Control control, bool isEnabled)
{
    if (!isEnabled)
        disabledInOrder.append(control);
}

void FakeControls::prependToDataPane(const QString &line)
{
    ++paneLines;
    bool chunkLine = false;
    for (const QLatin1StringView tag : {CaptureFiles::InHexTag, CaptureFiles::ReturnHexTag}) {
        const qsizetype at = line.indexOf(tag);
        if (at >= 0) {
            bytesShown[tag] += (line.size() - at - tag.size() - CaptureFiles::LineEnd.size()) / 2;
            chunkLine = true;
        }
    }
    chunkLine = chunkLine || line.contains(CaptureFiles::InAsciiTag) || line.contains(CaptureFiles::ReturnAsciiTag);
    if (keepChunkLines || !chunkLine)
        dataLines.prepend(line);
}

QString FakeControls::afterTimestamp(const QString &line)
{
    // Timestamps follow the locale (19:03:32, 7:03:32 PM, 19時03分32秒); every tag that follows
    // one starts with one of these.
    static const QRegularExpression tag(
        QStringLiteral(":(  IN |  -> |  M> | OUT | ILLEGAL | Socket ID:| ACK | POS[: ]| DEC[: ])"));
    const QRegularExpressionMatch match = tag.match(line);
    return match.hasMatch() ? line.mid(match.capturedStart()) : line;
}
