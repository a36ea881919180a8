#include "textpane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>

namespace {

// The user state of a block that continues the line of the block before it.
constexpr int Continuation = 1;

} // namespace

TextPane::TextPane(DropEnd dropEnd, qsizetype characterLimit, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_dropEnd(dropEnd)
    , m_characterLimit(std::max<qsizetype>(characterLimit, 1))
    , m_flushTimer(new QTimer(this))
{
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(0);
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

void TextPane::prependLine(const QString &line)
{
    m_pending.append({End::Top, line});
    m_flushTimer->start();
}

void TextPane::appendLine(const QString &line)
{
    m_pending.append({End::Bottom, line});
    m_flushTimer->start();
}

void TextPane::replaceText(const QString &text)
{
    // What waited to join the text would have been replaced with it.
    m_pending.clear();
    setPlainText(QString());
    insert(End::Bottom, text);
}

void TextPane::flushPending()
{
    m_flushTimer->stop();
    // In the order they came; the lines that follow each other at one end go in at once.
    const QList<std::pair<End, QString>> pending = std::exchange(m_pending, {});
    for (qsizetype first = 0; first < pending.size();) {
        const End end = pending.at(first).first;
        qsizetype last = first;
        while (last + 1 < pending.size() && pending.at(last + 1).first == end)
            ++last;
        qsizetype length = 0;
        for (qsizetype i = first; i <= last; ++i)
            length += pending.at(i).second.size();
        if (length > m_characterLimit) {
            // Past the limit each line is an addition of its own, as it came.
            for (qsizetype i = first; i <= last; ++i)
                insert(end, pending.at(i).second);
        } else {
            QString lines;
            lines.reserve(length);
            for (qsizetype i = first; i <= last; ++i)
                lines += pending.at(end == End::Top ? first + last - i : i).second;
            insert(end, lines);
        }
        first = last + 1;
    }
}

void TextPane::insert(End end, const QString &lines)
{
    const qsizetype keep = makeRoom(lines.size());
    QString text = plainText(keep < lines.size() ? lines.left(keep) : lines);
    // A long line goes into blocks of LineBlock characters, each but the first marked as the
    // line's continuation.
    QList<qsizetype> breaks;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text.at(i) != QLatin1Char('\n'))
            continue;
        for (qsizetype at = lineStart + LineBlock; at < i; at += LineBlock)
            breaks.append(at + breaks.size());
        lineStart = i + 1;
    }
    for (const qsizetype at : std::as_const(breaks))
        text.insert(at, QLatin1Char('\n'));

    QTextCursor cursor(document());
    // Within an edit block the cursor leaves the lines' layout alone.
    cursor.beginEditBlock();
    const qsizetype start = end == End::Top ? 0 : storedCharacters();
    cursor.setPosition(int(start)); // no movePosition(): that lays out the line it starts from
    cursor.insertText(text);
    for (const qsizetype at : std::as_const(breaks))
        document()->findBlock(int(start + at + 1)).setUserState(Continuation);
    cursor.endEditBlock();
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
    if (excess > 0)
        dropCharacters(std::min(count, excess + m_characterLimit / 16));
    return keep;
}

void TextPane::dropCharacters(qsizetype count)
{
    // Whole lines go, so at least count characters; none of what stays changes.
    const qsizetype total = storedCharacters();
    QTextDocument *doc = document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    // A line held in several blocks goes whole.
    if (m_dropEnd == DropEnd::Bottom) {
        QTextBlock first = doc->findBlock(int(total - count));
        while (first.userState() == Continuation && first.previous().isValid())
            first = first.previous();
        cursor.setPosition(first.position());
        cursor.setPosition(int(total), QTextCursor::KeepAnchor);
    } else {
        QTextBlock last = doc->findBlock(int(count - 1));
        while (last.next().isValid() && last.next().userState() == Continuation)
            last = last.next();
        const QTextBlock next = last.next();
        cursor.setPosition(next.isValid() ? next.position() : int(total), QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
    cursor.endEditBlock();
}
