#include "headlessfrontend.h"

#include "captureengine.h"
#include "datetimetext.h"
#include "platformerror.h"
#include "positionscsv.h"
#include "sessionindexfile.h"

#include <QCoreApplication>

#include <cstdio>

HeadlessFrontEnd::HeadlessFrontEnd(const Options &options, SocketsLibrary &sockets, QObject *parent)
    : QObject(parent)
    , m_output(fileno(stdout))
    , m_errors(fileno(stderr))
    , m_globalModule(
          {[this](const QString &line) { prependToLog(line); }, [this](const QString &text) { replaceLog(text); }},
          sockets)
    , m_engine(std::make_unique<CaptureEngine>(*this, options.captureFolder))
{
    const ControlPresets presets = controlPresets(options);
    for (const auto &[control, text] : presets.texts)
        m_texts[control] = text;
    for (const auto &[control, value] : presets.values)
        m_values[control] = value;
    m_features = options.features;
    m_engine->setRecorderFactory([](const QString &folder) { return std::make_unique<SessionIndexFile>(folder); });
    m_engine->setPositionRecorderFactory([](const QString &folder) { return std::make_unique<PositionsCsvFile>(folder); });
}

HeadlessFrontEnd::~HeadlessFrontEnd()
{
    m_engine.reset();
    flush();
}

void HeadlessFrontEnd::start()
{
    m_engine->Form_Load();

    // What the window shows when it becomes active; an error here ends the program there too.
    try {
        const QString address = m_globalModule.GetLocalIPAddress();
        writeMessage(QStringLiteral("This computer's IP: ") + address);
    } catch (const PlatformError &error) {
        reportError(error.number(), error.description());
        endProgram();
        return;
    }

    m_engine->Command1_Click();
    flush();
}

void HeadlessFrontEnd::writePaneText(const QString &text, void (PaneWatcher::*watch)(const QString &))
{
    m_output.write(text);
    if (m_paneWatcher)
        (m_paneWatcher->*watch)(text);
}

void HeadlessFrontEnd::prependChunkLines(QLatin1StringView asciiTag, QLatin1StringView hexTag, const QByteArray &chunk)
{
    const QString asciiTime = DateTimeText::now();
    m_output.writeChunkLine(asciiTime, asciiTag, chunk, LineOutput::Rendering::Ascii);
    const QString hexTime = DateTimeText::now();
    m_output.writeChunkLine(hexTime, hexTag, chunk, LineOutput::Rendering::Hex);
    if (m_paneWatcher) {
        m_paneWatcher->prependChunkLine(asciiTime, asciiTag, chunk, PaneWatcher::Rendering::Ascii);
        m_paneWatcher->prependChunkLine(hexTime, hexTag, chunk, PaneWatcher::Rendering::Hex);
    }
}

void HeadlessFrontEnd::eventHandled()
{
    flush();
    if (m_paneWatcher)
        m_paneWatcher->eventHandled();
}

void HeadlessFrontEnd::prependDecodedLines(const QByteArray &lines)
{
    const QString timestamp = DateTimeText::now();
    m_output.writeLines(timestamp, lines);
    if (m_paneWatcher) {
        for (const QString &line : decodedPaneLines(timestamp, lines))
            m_paneWatcher->prependToDataPane(line);
    }
}

void HeadlessFrontEnd::positionsDecoded(std::span<const PositionRow> rows)
{
    if (m_paneWatcher)
        m_paneWatcher->positionsDecoded(rows);
}

void HeadlessFrontEnd::flush()
{
    m_output.flush();
}

void HeadlessFrontEnd::messageBox(const QString &prompt, int /*style: always critical*/, const QString &title)
{
    writeMessage(title + QStringLiteral(": ") + prompt);
}

void HeadlessFrontEnd::reportError(int number, const QString &description)
{
    // The window's report, on one line.
    writeMessage(QStringLiteral("Run-time error '%1': %2").arg(QString::number(number), description));
}

void HeadlessFrontEnd::endProgram()
{
    flush();
    QCoreApplication::exit(ExitStatus::Failure);
}

void HeadlessFrontEnd::writeMessage(const QString &line)
{
    // The pane lines before the message come first, as they did on the screen.
    flush();
    m_errors.write(line + QLatin1Char('\n'));
    m_errors.flush();
}
