#include "livepane.h"

#include "capturefiles.h"

#include <QJsonArray>

namespace {

// A long text is held only as far as its cut line shows it.
template<typename Line>
Line plainLine(const QString &text)
{
    return Line{text.size() > LivePane::LineCharacters ? text.first(LivePane::LineCharacters) : text, {},
                std::nullopt, text.size()};
}

} // namespace

LivePane::LivePane(QString type, DropEnd dropEnd) : LivePart(std::move(type)), m_dropEnd(dropEnd)
{
}

void LivePane::prepend(const QString &line)
{
    add(Where::Top, plainLine<Line>(line));
}

void LivePane::append(const QString &line)
{
    add(Where::Bottom, plainLine<Line>(line));
}

void LivePane::replace(const QString &text)
{
    add(Where::Replace, plainLine<Line>(text));
}

void LivePane::prependChunkLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk,
                                Rendering rendering)
{
    const qsizetype perByte = rendering == Rendering::Hex ? 2 : 1;
    const qsizetype length = timestamp.size() + tag.size() + perByte * chunk.size() + CaptureFiles::LineEnd.size();
    // A long chunk is held only as far as its cut line shows it, so that no flood is kept alive.
    const QByteArray held = chunk.size() > LineCharacters ? chunk.first(LineCharacters) : chunk;
    add(Where::Top, Line{timestamp + tag, held, rendering, length});
}

QString LivePane::Line::rendered() const
{
    if (!rendering)
        return text;
    const QString line = *rendering == Rendering::Hex ? CaptureFiles::hexLine(text, {}, chunk)
                                                      : CaptureFiles::asciiLine(text, {}, chunk);
    return line.size() > LineCharacters ? line.first(LineCharacters) : line;
}

void LivePane::add(Where where, Line line)
{
    if (watched()) {
        if (where == Where::Replace) {
            m_changes.clear();
            m_changeCharacters = 0;
            m_skipped = 0;
        }
        m_changeCharacters += line.keptLength();
        m_changes.push_back(Change{where, line});
        while (m_changeCharacters > BatchCharacters && m_changes.size() > 1) {
            m_changeCharacters -= m_changes.front().line.keptLength();
            m_changes.pop_front();
            ++m_skipped;
        }
    }
    if (where == Where::Replace) {
        m_lines.clear();
        m_characters = 0;
    }
    m_characters += line.keptLength();
    if (where == Where::Top)
        m_lines.push_front(std::move(line));
    else
        m_lines.push_back(std::move(line));
    trimLines();
    changed();
}

void LivePane::trimLines()
{
    while (qsizetype(m_lines.size()) > KeptLines || (m_characters > KeptCharacters && m_lines.size() > 1)) {
        if (m_dropEnd == DropEnd::Top) {
            m_characters -= m_lines.front().keptLength();
            m_lines.pop_front();
        } else {
            m_characters -= m_lines.back().keptLength();
            m_lines.pop_back();
        }
    }
}

QJsonArray LivePane::entry(QLatin1StringView where, const Line &line)
{
    QJsonArray entry{QString(where), line.rendered()};
    if (line.length > LineCharacters)
        entry.append(line.length - LineCharacters);
    return entry;
}

QJsonObject LivePane::snapshot() const
{
    QJsonArray lines;
    for (const Line &line : m_lines)
        lines.append(entry(QLatin1StringView("bottom"), line));
    return {{QStringLiteral("type"), type()}, {QStringLiteral("clear"), true}, {QStringLiteral("lines"), lines}};
}

std::optional<QJsonObject> LivePane::takeChanges()
{
    if (m_changes.empty())
        return std::nullopt;
    static constexpr QLatin1StringView names[] = {QLatin1StringView("top"), QLatin1StringView("bottom"),
                                                  QLatin1StringView("replace")};
    QJsonArray lines;
    for (const Change &change : m_changes)
        lines.append(entry(names[int(change.where)], change.line));
    QJsonObject message{{QStringLiteral("type"), type()}, {QStringLiteral("lines"), lines}};
    if (m_skipped > 0)
        message.insert(QStringLiteral("skipped"), m_skipped);
    m_changes.clear();
    m_changeCharacters = 0;
    m_skipped = 0;
    return message;
}

void LivePane::setWatched(bool watched)
{
    LivePart::setWatched(watched);
    if (!watched) {
        m_changes.clear();
        m_changeCharacters = 0;
        m_skipped = 0;
    }
}
