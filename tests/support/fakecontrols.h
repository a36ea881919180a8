#ifndef GPSA_FAKECONTROLS_H
#define GPSA_FAKECONTROLS_H

#include "controls.h"

#include <QMap>
#include <QString>
#include <QStringList>

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
    void messageBox(const QString &prompt, int style, const QString &title) override;
    void reportError(int number, const QString &description) override;
    void endProgram() override { ++endRequests; }

    // Lines of the data pane, newest first, each with its CR LF.
    [[nodiscard]] QStringList dataLines() const { return dataPaneLines; }
    // A data-pane line without its timestamp: the tag and what follows it.
    [[nodiscard]] static QString afterTimestamp(const QString &line);

    QMap<Control, QString> texts;
    QMap<Control, int> values;
    QMap<Control, bool> enabled;
    QStringList disabledInOrder;
    QString log;
    QString dataPane;
    QStringList dataPaneLines;
    QList<Message> messages;
    QList<Report> reports;
    int endRequests = 0;
};

#endif
