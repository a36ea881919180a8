#include "textpane.h"

#include "capturefiles.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>

namespace {

// The user state of a block that continues the line of the block before it.
constexpr int Continuation = 1;

// The text of one insertion into the document, written in one pass: every CR LF, lone CR and
// lone LF a single line end, and a long line in blocks of LineBlock characters, each but the
// first to be marked as the line's continuation. Below the newest TopBlocks lines, up to
// GroupLines short lines share a block of at most LineBlock characters.
class BlockWriter
{
public:
    // room: the most characters it takes; lineNumber: of the line it starts on, from the top.
    BlockWriter(qsizetype room, int lineNumber)
        : m_text(room + room / TextPane::LineBlock + 1, Qt::Uninitialized)
        , m_begin(reinterpret_cast<char16_t *>(m_text.data()))
        , m_out(m_begin)
        , m_room(room)
        , m_lineNumber(lineNumber)
    {
    }

    // Writes as much of the part as there is room for.
    void write(QStringView part)
    {
        const qsizetype count = std::min(part.size(), m_room);
        for (const QChar c : part.first(count))
            put(c.unicode());
        m_room -= count;
    }
    [[nodiscard]] qsizetype room() const { return m_room; }

    // The text written; a last line end that joined lines ends their block instead.
    [[nodiscard]] QString finish()
    {
        m_text.truncate(m_out - m_begin);
        if (!m_text.isEmpty() && m_text.back() == QChar::LineSeparator) {
            m_text.back() = u'\n';
            ++m_newBlocks;
        }
        return std::move(m_text);
    }
    // The blocks that the text adds, and the positions of the line ends that continue a line.
    [[nodiscard]] int newBlocks() const { return m_newBlocks; }
    [[nodiscard]] const QList<qsizetype> &breaks() const { return m_breaks; }

private:
    void put(char16_t c)
    {
        const bool crLf = m_afterCr && c == u'\n';
        m_afterCr = c == u'\r';
        if (crLf)
            return;
        if (c == u'\r' || c == u'\n') {
            endLine();
            return;
        }
        if (m_blockLength == TextPane::LineBlock && m_lastJoin != nullptr)
            endBlock(m_lastJoin); // the line goes on in a block of its own, whole
        if (m_lineLength == TextPane::LineBlock) {
            m_breaks.append(m_out - m_begin);
            endBlock(m_out++);
            m_lineLength = 0;
        }
        *m_out++ = c;
        ++m_blockLength;
        ++m_lineLength;
    }

    void endLine()
    {
        m_lineLength = 0;
        if (++m_lineNumber > TextPane::TopBlocks && ++m_groupedLines < TextPane::GroupLines &&
            m_blockLength + 1 < TextPane::LineBlock) {
            m_lastJoin = m_out;
            *m_out++ = QChar::LineSeparator;
            ++m_blockLength;
        } else {
            endBlock(m_out++);
        }
    }

    // Ends the block at a character written already: what follows it begins the next block.
    void endBlock(char16_t *at)
    {
        *at = u'\n';
        ++m_newBlocks;
        m_groupedLines = 0;
        m_blockLength = m_out - at - 1;
        m_lastJoin = nullptr;
    }

    QString m_text;
    char16_t *const m_begin;
    char16_t *m_out;
    qsizetype m_room;
    int m_lineNumber;
    qsizetype m_lineLength = 0;
    qsizetype m_blockLength = 0;
    int m_groupedLines = 0;
    int m_newBlocks = 0;
    char16_t *m_lastJoin = nullptr; // the last line separator of the block
    bool m_afterCr = false;
    QList<qsizetype> m_breaks;
};

} // namespace

TextPane::TextPane(DropEnd dropEnd, qsizetype characterLimit, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_dropEnd(dropEnd)
    , m_characterLimit(std::max<qsizetype>(characterLimit, 1))
    , m_flushTimer(new QTimer(this))
{
    m_flushTimer->setSingleShot(true);
    // Lines join the text a few times a second, as many at once as came meanwhile: one layout
    // and one repaint for them all, and none while a handler waits for the network.
    m_flushTimer->setInterval(FlushIntervalMs);
    connect(m_flushTimer, &QTimer::timeout, this, &TextPane::flushPending);
    // Without an undo history the document also reclaims the text that was removed.
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);

    QFont font;
    font.setFamilies({QStringLiteral("Courier"), QStringLiteral("Courier New"), QStringLiteral("Nimbus Mono PS"),
                      QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Mono")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(9.75);
    setFont(font);

    QPalette colours = palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colours.setColor(group, QPalette::Base, QColor(64, 64, 64));
        colours.setColor(group, QPalette::Text, QColor(0, 255, 0));
    }
    setPalette(colours);
}

qsizetype TextPane::Pending::length() const
{
    if (!rendering)
        return text.size();
    return text.size() + chunk.size() * (*rendering == Rendering::Hex ? 2 : 1) + 2;
}

void TextPane::prependLine(const QString &line)
{
    add({End::Top, line, {}, std::nullopt});
}

void TextPane::appendLine(const QString &line)
{
    add({End::Bottom, line, {}, std::nullopt});
}

void TextPane::prependChunkLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk,
                                Rendering rendering)
{
    // The tag is copied: a tracker's tags go with its connection, its lines may wait longer.
    add({End::Top, timestamp + tag, chunk, rendering});
}

void TextPane::add(Pending line)
{
    const bool allOnTop = m_pendingOnTop >= 0 && line.end == End::Top;
    m_pendingOnTop = allOnTop ? m_pendingOnTop + line.length() : -1;
    m_pending.append(std::move(line));
    // A flood faster than the pane takes it in: what newer lines would push out at once is
    // left out now, the newest kept whole.
    while (allOnTop && m_pending.size() > 1 && m_pendingOnTop - m_pending.constFirst().length() >= m_characterLimit) {
        m_pendingOnTop -= m_pending.constFirst().length();
        m_pending.removeFirst();
    }
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
}

void TextPane::replaceText(const QString &text)
{
    // What waited to join the text would have been replaced with it.
    m_pending.clear();
    m_pendingOnTop = 0;
    m_singleLines = 0;
    setPlainText(QString());
    const Pending all{End::Bottom, text, {}, std::nullopt};
    insert(End::Bottom, {&all});
}

void TextPane::flushPending()
{
    m_flushTimer->stop();
    QElapsedTimer clock;
    clock.start();
    const auto adjustInterval = qScopeGuard([&] {
        // A pane that takes long to take lines in waits longer for the next ones: in a flood it
        // takes at most a third of the time, and the rest goes to the capture.
        m_flushTimer->setInterval(std::clamp(int(2 * clock.elapsed()), FlushIntervalMs, 1000));
    });
    // In the order they came; the lines that follow each other at one end go in at once.
    const QList<Pending> pending = std::exchange(m_pending, {});
    m_pendingOnTop = 0;
    for (qsizetype first = 0; first < pending.size();) {
        const End end = pending.at(first).end;
        qsizetype last = first;
        while (last + 1 < pending.size() && pending.at(last + 1).end == end)
            ++last;
        QList<const Pending *> run; // as the lines will stand in the pane, top first
        qsizetype length = 0;
        for (qsizetype i = first; i <= last; ++i) {
            const Pending &line = pending.at(end == End::Top ? first + last - i : i);
            // New lines at the top push out the older ones; those that would go at once are
            // left out, the newest kept whole.
            if (end == End::Top && length >= m_characterLimit)
                break;
            run.append(&line);
            length += line.length();
        }
        if (end == End::Bottom && length > m_characterLimit) {
            // Past the limit each line at the end is an addition of its own, as it came.
            for (const Pending *line : std::as_const(run))
                insert(end, {line});
        } else {
            insert(end, run);
        }
        first = last + 1;
    }
}

void TextPane::insert(End end, const QList<const Pending *> &lines)
{
    qsizetype length = 0;
    for (const Pending *line : lines)
        length += line->length();
    BlockWriter writer(makeRoom(length), end == End::Top ? 0 : document()->blockCount() - 1);
    for (const Pending *line : lines) {
        writer.write(line->text);
        if (!line->rendering)
            continue;
        // Only the bytes whose rendering may stay are rendered.
        const qsizetype room = writer.room();
        if (*line->rendering == Rendering::Hex)
            writer.write(CaptureFiles::hexRendering(line->chunk.first(std::min(line->chunk.size(), (room + 1) / 2))));
        else
            writer.write(CaptureFiles::asciiRendering(line->chunk.first(std::min(line->chunk.size(), room))));
        writer.write(u"\r\n");
    }
    const QString text = writer.finish();

    QTextCursor cursor(document());
    // Within an edit block the cursor leaves the lines' layout alone.
    cursor.beginEditBlock();
    const qsizetype start = end == End::Top ? 0 : storedCharacters();
    cursor.setPosition(int(start)); // no movePosition(): that lays out the line it starts from
    cursor.insertText(text);
    for (const qsizetype at : writer.breaks())
        document()->findBlock(int(start + at + 1)).setUserState(Continuation);
    cursor.endEditBlock();
    if (end == End::Top)
        groupPushedLines(writer.newBlocks());
}

void TextPane::groupPushedLines(int newBlocks)
{
    if (newBlocks <= TopBlocks) {
        // The lines pushed past the newest wait until there are enough of them for a group.
        for (m_singleLines += newBlocks; m_singleLines >= GroupLines; m_singleLines -= GroupLines)
            joinBlocks(TopBlocks + m_singleLines - GroupLines, GroupLines);
        return;
    }
    // The new lines are grouped already; the single ones below them are grouped now.
    int first = newBlocks;
    for (int left = TopBlocks + std::exchange(m_singleLines, 0); left > 0; left -= GroupLines)
        first += joinBlocks(first, std::min(GroupLines, left));
}

int TextPane::joinBlocks(int first, int count)
{
    // Each block with the ones after it, as long as the block stays within LineBlock
    // characters; a line held in several blocks stays so.
    QList<int> separators;
    QTextBlock block = document()->findBlockByNumber(first);
    qsizetype length = 0;
    for (int i = 1; i < count && block.isValid(); ++i, block = block.next()) {
        const QTextBlock next = block.next();
        length += block.length();
        if (next.isValid() && next.userState() != Continuation && length + next.length() <= LineBlock)
            separators.append(block.position() + block.length() - 1);
        else
            length = 0;
    }
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    for (const int at : std::as_const(separators)) {
        cursor.setPosition(at);
        cursor.setPosition(at + 1, QTextCursor::KeepAnchor);
        cursor.insertText(QString(QChar::LineSeparator));
    }
    cursor.endEditBlock();
    return count - int(separators.size());
}

QString TextPane::text() const
{
    const_cast<TextPane *>(this)->flushPending();
    QString text;
    text.reserve(document()->characterCount());
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (block != document()->begin() && block.userState() != Continuation)
            text += QLatin1Char('\n');
        text += block.text();
    }
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

qsizetype TextPane::characterCount() const
{
    const_cast<TextPane *>(this)->flushPending();
    return storedCharacters();
}

qsizetype TextPane::storedCharacters() const
{
    // The document counts one more separator than the text has line ends.
    return document()->characterCount() - 1;
}

QString TextPane::plainText(const QString &text)
{
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (QChar &c : plain) {
        if (c == QLatin1Char('\r') || c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    }
    return plain;
}

qsizetype TextPane::makeRoom(qsizetype length)
{
    const qsizetype keep = std::min(length, m_characterLimit);
    const qsizetype count = storedCharacters();
    const qsizetype excess = count + keep - m_characterLimit;
    // When all of the old text goes, the document starts afresh: its buffer too is given back.
    if (excess > 0 && excess + m_characterLimit / 16 >= count) {
        setPlainText(QString());
        m_singleLines = 0;
    }
    else if (excess > 0)
        dropCharacters(excess + m_characterLimit / 16);
    return keep;
}

void TextPane::dropCharacters(qsizetype count)
{
    // Whole lines go, so at least count characters; none of what stays changes.
    const qsizetype total = storedCharacters();
    QTextDocument *doc = document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    // A line held in several blocks goes whole; of a block of several lines, only the lines
    // that must go.
    if (m_dropEnd == DropEnd::Bottom) {
        QTextBlock first = doc->findBlock(int(total - count));
        int cut = int(total - count) - first.position();
        while (first.userState() == Continuation && first.previous().isValid()) {
            first = first.previous();
            cut = first.length() - 1;
        }
        const int separator = cut > 0 ? first.text().lastIndexOf(QChar::LineSeparator, cut - 1) : -1;
        cursor.setPosition(first.position() + separator + 1);
        cursor.setPosition(int(total), QTextCursor::KeepAnchor);
    } else {
        QTextBlock last = doc->findBlock(int(count - 1));
        int cut = int(count - 1) - last.position();
        while (last.next().isValid() && last.next().userState() == Continuation) {
            last = last.next();
            cut = 0;
        }
        const int separator = last.text().indexOf(QChar::LineSeparator, cut);
        const QTextBlock next = last.next();
        cursor.setPosition(separator >= 0 ? last.position() + separator + 1 : next.isValid() ? next.position() : int(total),
                           QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
    cursor.endEditBlock();
}
