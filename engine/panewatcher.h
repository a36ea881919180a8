#ifndef GPSA_PANEWATCHER_H
#define GPSA_PANEWATCHER_H

#include "positionrecorder.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

#include <span>

// A second view of the operator's two panes and decoded positions (the live web view): a front
// end that has one gives it every line its connection log and data pane take, and every decoded
// position, with the same text, in the same order, as it gives them to its own panes and table.
// Each call only takes note: what it is shown on goes out later, so that the capture never waits
// for it.
class PaneWatcher
{
public:
    virtual ~PaneWatcher() = default;

    // The connection log: a line at its end, a line at its top, the whole text replaced.
    virtual void appendToLog(const QString &line) = 0;
    virtual void prependToLog(const QString &line) = 0;
    virtual void replaceLog(const QString &text) = 0;
    // The data pane: a line on top.
    virtual void prependToDataPane(const QString &line) = 0;
    // A chunk's line on top of the data pane, not yet rendered: the timestamp its pane shows,
    // the tag (valid during the call only: a tracker's tags go with its connection), and the
    // chunk in its ASCII or its hexadecimal rendering.
    enum class Rendering { Ascii, Hex };
    virtual void prependChunkLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk,
                                  Rendering rendering) = 0;
    // The positions of a chunk's decoded frames, as the window's positions take them.
    virtual void positionsDecoded(std::span<const PositionRow> rows) = 0;
    // A handler of the engine has run to its end.
    virtual void eventHandled() = 0;
};

#endif
