#ifndef GPSA_COUNTINGCONTROLS_H
#define GPSA_COUNTINGCONTROLS_H

#include "fakecontrols.h"

#include <QHash>
#include <QLatin1StringView>

// The fake controls for a flood: the data pane's lines are counted, not kept, so that the
// test's own memory does not grow with the traffic. Everything else goes to the plain fake.
class CountingControls final : public Controls
{
public:
    [[nodiscard]] QString text(Control control) const override { return fake.text(control); }
    [[nodiscard]] int value(Control checkBox) const override { return fake.value(checkBox); }
    void setValue(Control checkBox, int value) override { fake.setValue(checkBox, value); }
    void setEnabled(Control control, bool enabled) override { fake.setEnabled(control, enabled); }
    void appendToLog(const QString &line) override { fake.appendToLog(line); }
    void prependToLog(const QString &line) override { fake.prependToLog(line); }
    void replaceLog(const QString &text) override { fake.replaceLog(text); }
    void prependToDataPane(const QString &line) override;
    void messageBox(const QString &prompt, int style, const QString &title) override
    {
        fake.messageBox(prompt, style, title);
    }
    void reportError(int number, const QString &description) override { fake.reportError(number, description); }
    void endProgram() override { fake.endProgram(); }

    // Lines that went to the data pane.
    [[nodiscard]] qint64 paneLines() const { return m_paneLines; }
    // Bytes shown by the hex lines of a tag: a hex line shows two characters per byte.
    [[nodiscard]] qint64 bytesShown(QLatin1StringView hexTag) const { return m_hexBytes.value(hexTag); }
    // Lines that carried none of the chunk tags (error and command lines), kept in full.
    [[nodiscard]] QStringList otherLines() const { return m_otherLines; }

    FakeControls fake;

private:
    qint64 m_paneLines = 0;
    QHash<QLatin1StringView, qint64> m_hexBytes;
    QStringList m_otherLines;
};

#endif
