#ifndef GPSA_PANELINECOUNTER_H
#define GPSA_PANELINECOUNTER_H

#include <QByteArray>
#include <QtGlobal>

// Reads the program's standard output, where the headless front end prints its data-pane
// lines, and counts the bytes whose hex lines carry a given tag: two payload characters per
// byte up to the line's end. Lines may arrive split across any number of reads.
class PaneLineCounter final
{
public:
    explicit PaneLineCounter(QByteArray tag) : m_tag(std::move(tag)) {}

    void feed(const char *data, qsizetype size);
    [[nodiscard]] qint64 bytes() const { return m_hexCharacters / 2; }
    [[nodiscard]] qint64 lines() const { return m_lines; }

private:
    QByteArray m_tag;
    QByteArray m_pending; // the end of the last read, in case a tag is split
    bool m_inHexLine = false;
    qint64 m_hexCharacters = 0;
    qint64 m_lines = 0;
};

#endif
