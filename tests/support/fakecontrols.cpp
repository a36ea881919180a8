#include "fakecontrols.h"

#include "capturefiles.h"

#include <QRegularExpression>

FakeControls::FakeControls()
{
    texts[Control::Text2] = QStringLiteral("5000");
    texts[Control::Text5] = QStringLiteral("5001");
    texts[Control::Text6] = QStringLiteral("127.0.0.1");
    texts[Control::Combo1] = QStringLiteral("ASCII");
    for (Control c : {Control::Command1, Control::Check3, Control::Text2, Control::Text5, Control::Text6})
        enabled[c] = true;
}

void FakeControls::setEnabled(Control control, bool isEnabled)
{
    enabled[control] = isEnabled;
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
            hexBytes[tag] += (line.size() - at - tag.size() - CaptureFiles::LineEnd.size()) / 2;
            chunkLine = true;
        }
    }
    chunkLine = chunkLine || line.contains(CaptureFiles::InAsciiTag) || line.contains(CaptureFiles::ReturnAsciiTag);
    if (keepChunkLines || !chunkLine)
        dataLines.prepend(line);
}

qint64 FakeControls::bytesShown(QLatin1StringView hexTag) const
{
    return hexBytes.value(hexTag);
}

QString FakeControls::afterTimestamp(const QString &line)
{
    // Timestamps follow the locale (19:03:32, 7:03:32 PM, 19時03分32秒); every tag that follows
    // one starts with one of these.
    static const QRegularExpression tag(QStringLiteral(":(  IN |  -> | OUT | ILLEGAL | Socket ID:| ACK )"));
    const QRegularExpressionMatch match = tag.match(line);
    return match.hasMatch() ? line.mid(match.capturedStart()) : line;
}
