// The pane measurement with the window library: a real AnalyzerFrm, shown on the offscreen
// platform, its data pane filled and then grown through the engine's own entry point.

#include "panebench.h"

#include "analyzerfrm.h"
#include "socketslibrary.h"
#include "textpane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>

namespace PaneBench {

namespace {

// Short lines, eight characters with their line end, so that a million of them stay under
// the pane's character limit and none is dropped while measuring.
QString shortLine(int number)
{
    return QStringLiteral("%1\r\n").arg(number % 10000000, 7, 10, QLatin1Char('0'));
}

} // namespace

Result measure(int lines, int samples)
{
    Result result;
    QTemporaryDir captureFolder;
    const std::unique_ptr<SocketsLibrary> sockets = systemSocketsLibrary();
    AnalyzerFrm window(captureFolder.path(), *sockets);
    window.Form_Load();
    window.show();
    QApplication::processEvents();

    // Filled at once: a million prepends would measure the fill, not the pane.
    QString text;
    text.reserve(qsizetype(lines) * 8);
    for (int i = lines; i > 0; --i)
        text += shortLine(i);
    text.chop(2);
    window.Text3()->replaceText(text);
    text.clear();
    QApplication::processEvents();
    const auto lineCount = [&] { return window.Text3()->text().count(QLatin1Char('\n')) + 1; };
    if (lineCount() != lines) {
        result.problem = QStringLiteral("the pane holds %1 lines, not %2")
                             .arg(lineCount())
                             .arg(lines);
        return result;
    }

    QList<double> micros;
    micros.reserve(samples);
    QElapsedTimer clock;
    for (int i = 0; i < samples; ++i) {
        const QString line = shortLine(lines + 1 + i);
        clock.start();
        window.prependToDataPane(line);
        // The line joins the document at the next turn of the event loop: that too is its cost.
        window.Text3()->flushPending();
        micros.append(double(clock.nsecsElapsed()) / 1000.0);
        // Paint as the running program would between events, outside the timing.
        QApplication::processEvents();
    }
    if (lineCount() != lines + samples) {
        result.problem = QStringLiteral("lines were dropped: the pane holds %1 of %2")
                             .arg(lineCount())
                             .arg(lines + samples);
        return result;
    }
    std::sort(micros.begin(), micros.end());
    result.micros = micros[micros.size() / 2];
    return result;
}

} // namespace PaneBench
