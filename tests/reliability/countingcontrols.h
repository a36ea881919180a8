#ifndef GPSA_COUNTINGCONTROLS_H
#define GPSA_COUNTINGCONTROLS_H

#include "fakecontrols.h"

#include <QHash>
#include <QLatin1StringView>

// The fake controls for a flood: the data pane's lines are counted, not kept, so that the
// test's own memory does not grow with the traffic. Everything else is the plain fake's.
class CountingControls final : public FakeControls
{
public:
    void prependToDataPane(const QString &line) override;

    // Lines that went to the data pane.
    [[nodiscard]] qint64 paneLines() const { return m_paneLines; }
    // Bytes shown by the hex lines of a tag: a hex line shows two characters per byte.
    [[nodiscard]] qint64 bytesShown(QLatin1StringView hexTag) const { return m_hexBytes.value(hexTag); }
    // Lines that carried none of the chunk tags (error and command lines), kept in full.
    [[nodiscard]] QStringList otherLines() const { return m_otherLines; }

private:
    qint64 m_paneLines = 0;
    QHash<QLatin1StringView, qint64> m_hexBytes;
    QStringList m_otherLines;
};

#endif
