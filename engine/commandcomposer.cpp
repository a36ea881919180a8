#include "commandcomposer.h"

#include "captureengine.h"
#include "capturefiles.h"
#include "datetimetext.h"
#include "hexdigits.h"
#include "platformerror.h"
#include "socketendpoint.h"

ComposedCommand composeCommand(const QString &typeText, const QString &commandText)
{
    ComposedCommand command;
    if (typeText == QLatin1StringView("ASCII")) {
        // One byte per character; characters beyond code 255 cannot go on the wire as
        // such and are sent as '?'.
        command.bytes = commandText.toLatin1();
        return command;
    }
    command.hexMode = true;
    QString text = commandText;
    text.remove(QLatin1Char(' '));
    if (text.isEmpty())
        return command;
    const QStringList elements = text.split(QLatin1Char(','));
    for (const QString &element : elements) {
        const int byte =
            element.size() == 2 ? Hex::byteValue(element.at(0).unicode(), element.at(1).unicode()) : -1;
        if (byte < 0)
            command.illegalElements.append(element);
        else
            command.bytes.append(char(byte));
    }
    return command;
}

QString commaSeparatedHex(const QByteArray &bytes)
{
    return QString::fromLatin1(Hex::upper(bytes, ','));
}

void CaptureEngine::SendUserCommand(qint16 index)
{
    // A tracker that has already gone gets nothing, and the command stays armed for the next.
    if (m_controls.value(Control::AutoSend) != CheckValue::Ticked || !trackerConnected(index))
        return;
    // Disarmed first, so that the command is never repeated, even when a later step fails.
    m_controls.setValue(Control::AutoSend, CheckValue::Clear);

    const QString commandText = m_controls.text(Control::Command);
    const ComposedCommand command = composeCommand(m_controls.text(Control::CommandType), commandText);
    for (const QString &element : command.illegalElements)
        m_controls.prependToDataPane(
            CaptureFiles::paneLine(DateTimeText::now(), CaptureFiles::IllegalElementTag, element));
    m_controls.prependToDataPane(
        command.hexMode
            ? CaptureFiles::paneLine(DateTimeText::now(), CaptureFiles::CommandHexTag, QString::fromLatin1(command.bytes))
            : CaptureFiles::paneLine(DateTimeText::now(), CaptureFiles::CommandAsciiTag, commandText));

    const QByteArray wire = commandOnTheWire(command.bytes);
    try {
        sckAccept(index).SendData(wire);
    } catch (const PlatformError &) {
        // The connection broke under the send: the tracker is gone, not the program.
        m_controls.setValue(Control::AutoSend, CheckValue::Ticked);
        return;
    }
    sentToTracker(index, SessionEvent::Kind::Cmd, wire, sessionClockUs());
}

QByteArray CaptureEngine::commandOnTheWire(const QByteArray &command) const
{
    // Read at each command: it belongs to the command, which the operator may change while
    // capturing.
    return m_controls.features().appendCrLf ? command + "\r\n" : command;
}
