#include "textpane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

TextPane::TextPane(DropEnd dropEnd, qsizetype characterLimit, QWidget *parent)
    : QPlainTextEdit(parent), m_dropEnd(dropEnd), m_characterLimit(std::max<qsizetype>(characterLimit, 1))
{
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
    const qsizetype keep = makeRoom(line.size());
    QTextCursor cursor(document());
    // Within an edit block the cursor leaves the lines' layout alone.
    cursor.beginEditBlock();
    cursor.setPosition(0); // no movePosition(): that lays out the line it starts from
    cursor.insertText(keep < line.size() ? line.left(keep) : line);
    cursor.endEditBlock();
}

void TextPane::appendLine(const QString &line)
{
    const qsizetype keep = makeRoom(line.size());
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    cursor.setPosition(int(characterCount()));
    cursor.insertText(keep < line.size() ? line.left(keep) : line);
    cursor.endEditBlock();
}

void TextPane::replaceText(const QString &text)
{
    setPlainText(text.size() > m_characterLimit ? text.left(m_characterLimit) : text);
}

QString TextPane::text() const
{
    QString raw = document()->toRawText();
    for (QChar &c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    }
    return raw;
}

qsizetype TextPane::characterCount() const
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
    const qsizetype count = characterCount();
    const qsizetype excess = count + keep - m_characterLimit;
    if (excess > 0)
        dropCharacters(std::min(count, excess + m_characterLimit / 16));
    return keep;
}

void TextPane::dropCharacters(qsizetype count)
{
    // Whole lines go, so at least count characters; none of what stays changes.
    const qsizetype total = characterCount();
    QTextDocument *doc = document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    if (m_dropEnd == DropEnd::Bottom) {
        const QTextBlock first = doc->findBlock(int(total - count));
        cursor.setPosition(first.position());
        cursor.setPosition(int(total), QTextCursor::KeepAnchor);
    } else {
        const QTextBlock last = doc->findBlock(int(count - 1));
        const QTextBlock next = last.next();
        cursor.setPosition(next.isValid() ? next.position() : int(total), QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
    cursor.endEditBlock();
}
