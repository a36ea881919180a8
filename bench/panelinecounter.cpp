#include "panelinecounter.h"

void PaneLineCounter::feed(const char *data, qsizetype size)
{
    m_pending.append(data, size);
    qsizetype at = 0;
    const qsizetype end = m_pending.size();
    while (at < end) {
        if (m_inHexLine) {
            qsizetype stop = at;
            while (stop < end && m_pending.at(stop) != '\r' && m_pending.at(stop) != '\n')
                ++stop;
            m_hexCharacters += stop - at;
            at = stop;
            if (stop < end) {
                m_inHexLine = false;
                ++m_lines;
            }
            continue;
        }
        const qsizetype tag = m_pending.indexOf(m_tag, at);
        if (tag < 0) {
            // Keep what could be the start of a tag split across reads.
            at = qMax(at, end - (m_tag.size() - 1));
            break;
        }
        at = tag + m_tag.size();
        m_inHexLine = true;
    }
    m_pending.remove(0, at);
}
