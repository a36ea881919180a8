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

void CaptureEngine::SendUserCommand(TrackerSession &tracker)
{
    // A tracker that has already gone gets nothing, and the command stays armed for the next.
    if (m_controls.value(Control::AutoSend) != CheckValue::Ticked || !tracker.link->isOpen())
        return;
    const QString type = m_controls.text(Control::CommandType);
    const QString text = m_controls.text(Control::Command);
    // Disarmed first, so that the command is never repeated, even when a later step fails.
    // With several trackers it stays armed, and each tracker has it once.
    if (servesMany()) {
        const QString armed = type + QLatin1Char('\n') + text;
        if (tracker.commandHad == armed)
            return;
        tracker.commandHad = armed;
    } else {
        m_controls.setValue(Control::AutoSend, CheckValue::Clear);
    }

    const ComposedCommand command = composeCommand(type, text);
    for (const QString &element : command.illegalElements)
        m_controls.prependToDataPane(
            CaptureFiles::paneLine(DateTimeText::now(), tracker.tag(CaptureFiles::IllegalElementTag), element));
    const QLatin1StringView tag = command.hexMode ? CaptureFiles::CommandHexTag : CaptureFiles::CommandAsciiTag;
    m_controls.prependToDataPane(CaptureFiles::paneLine(DateTimeText::now(), tracker.tag(tag),
                                                        command.hexMode ? QString::fromLatin1(command.bytes) : text));

    const QByteArray wire = commandOnTheWire(command.bytes);
    try {
        tracker.link->send(wire);
    } catch (const PlatformError &) {
        // The connection broke under the send: the tracker is gone, not the program.
        if (servesMany())
            tracker.commandHad.clear();
        else
            m_controls.setValue(Control::AutoSend, CheckValue::Ticked);
        return;
    }
    sentToTracker(tracker, SessionEvent::Kind::Cmd, wire, sessionClockUs());
}

QByteArray CaptureEngine::commandOnTheWire(const QByteArray &command) const
{
    // Read at each command: it belongs to the command, which the operator may change while
    // capturing.
    return m_controls.features().appendCrLf ? command + "\r\n" : command;
}
