#ifndef GPSA_LIVEPANE_H
#define GPSA_LIVEPANE_H

#include "livepart.h"
#include "panewatcher.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <deque>

// One of the window's panes for the live page: the lines it takes, at the top, at the end, or
// in place of its whole text, as the window's pane takes them.
//
// It keeps the newest KeptLines lines (at most KeptCharacters characters) to bring a viewer up
// to date, dropping the oldest at the pane's drop end, and, while someone watches, the changes
// since the last message. A change message carries the newest changes up to BatchCharacters
// characters and counts the older ones it leaves out, so that a flood costs the page and the
// network a bounded amount. A line longer than LineCharacters goes out cut to that length with the
// count of the characters cut; the capture files keep every byte.
//
// Messages: {"type": T, "lines": [[WHERE, TEXT] or [WHERE, TEXT, CUT], ...]} with WHERE "top",
// "bottom" or "replace", in the order the pane took them; a snapshot has "clear": true and its
// lines top first, each "bottom"; a change message that left lines out has "skipped": N.
class LivePane final : public LivePart
{
public:
    enum class DropEnd { Top, Bottom };
    using Rendering = PaneWatcher::Rendering;

    LivePane(QString type, DropEnd dropEnd);

    void prepend(const QString &line);
    void append(const QString &line);
    void replace(const QString &text);
    // A chunk's line on top, rendered only when a message carries it.
    void prependChunkLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk,
                          Rendering rendering);

    [[nodiscard]] QJsonObject snapshot() const override;
    [[nodiscard]] std::optional<QJsonObject> takeChanges() override;
    void setWatched(bool watched) override;

    [[nodiscard]] qsizetype lineCount() const { return qsizetype(m_lines.size()); }

    static constexpr qsizetype KeptLines = 1000;
    static constexpr qsizetype KeptCharacters = 1 << 20;
    static constexpr qsizetype BatchCharacters = 1 << 19;
    static constexpr qsizetype LineCharacters = 1 << 16;

private:
    // A line as its pane took it: a text, or a chunk's line still to be rendered.
    struct Line
    {
        // The text, or the timestamp and tag of a chunk's line: the tag is copied, as a tracker's
        // tags go with its connection and its lines may wait longer.
        QString text;
        QByteArray chunk; // no longer than a line of LineCharacters needs
        std::optional<Rendering> rendering;
        qsizetype length = 0; // of the whole line

        [[nodiscard]] qsizetype keptLength() const { return std::min(length, LineCharacters); }
        [[nodiscard]] QString rendered() const;
    };
    enum class Where { Top, Bottom, Replace };
    struct Change
    {
        Where where;
        Line line;
    };
    void add(Where where, Line line);
    void trimLines();
    [[nodiscard]] static QJsonArray entry(QLatin1StringView where, const Line &line);

    DropEnd m_dropEnd;
    std::deque<Line> m_lines;
    qsizetype m_characters = 0;
    std::deque<Change> m_changes;
    qsizetype m_changeCharacters = 0;
    qint64 m_skipped = 0;
};

#endif
