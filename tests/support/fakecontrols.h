#ifndef GPSA_FAKECONTROLS_H
#define GPSA_FAKECONTROLS_H

#include "controls.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// The operator's controls as plain values, with the load-time contents of the window, and
// a record of everything the engine did to them. Tests that need one write to behave
// otherwise override just that one.
class FakeControls : public Controls
{
public:
    struct Message
    {
        QString prompt;
        int style = 0;
        QString title;
    };
    struct Report
    {
        int number = 0;
        QString description;
    };

    FakeControls();

    [[nodiscard]] QString text(Control control) const override { return texts.value(control); }
    [[nodiscard]] int value(Control checkBox) const override { return values.value(checkBox); }
    void setValue(Control checkBox, int value) override { values[checkBox] = value; }
    void setEnabled(Control control, bool enabled) override;
    void appendToLog(const QString &line) override { log += line; }
    void prependToLog(const QString &line) override { log.prepend(line); }
    void replaceLog(const QString &text) override { log = text; }
    void prependToDataPane(const QString &line) override;
    void messageBox(const QString &prompt, int style, const QString &title) override
    {
        messages.append({prompt, style, title});
        if (whileMessageShows) // the events that a real message box's own loop would deliver
            whileMessageShows();
    }
    void reportError(int number, const QString &description) override
    {
        reports.append({number, description});
        if (whileMessageShows)
            whileMessageShows();
    }
    void endProgram() override { ++endRequests; }
    [[nodiscard]] CaptureFeatures features() const override { return switches; }
    void positionsDecoded(std::span<const PositionRow> rows) override
    {
        positions += QList(rows.begin(), rows.end());
    }

    // A data-pane line without its timestamp: the tag and what follows it.
    [[nodiscard]] static QString afterTimestamp(const QString &line);
    // The i-th line of the data pane from the top, without its timestamp.
    [[nodiscard]] QString line(int i) const { return afterTimestamp(dataLines.value(i)); }

    QMap<Control, QString> texts;
    QMap<Control, int> values;
    CaptureFeatures switches;
    QList<Control> disabledInOrder;
    QString log;
    // Lines of the data pane, newest first, each with its CR LF; in a flood, where keeping
    // them would take the memory that the test measures, only the lines that are no chunk's.
    QStringList dataLines;
    bool keepChunkLines = true;
    qint64 paneLines = 0;
    // Bytes shown by the hex lines of each hex tag: a hex line shows two characters per byte.
    QMap<QString, qint64> bytesShown;
    QList<Message> messages;
    std::function<void()> whileMessageShows;
    QList<Report> reports;
    QList<PositionRow> positions;
    int endRequests = 0;
};

#endif
