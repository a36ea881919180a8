#include "capturefiles.h"
#include "textpane.h"

#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

class tst_TextPane final : public QObject
{
    Q_OBJECT

private slots:
    void prependGoesOnTop_data();
    void prependGoesOnTop();
    void operatorTypedTextIsCarriedAlong();
    void dropsOldestFirst_data();
    void dropsOldestFirst();
    void linesJoinAtTheNextTurn();
    void longLinesAreLaidOutOnlyInView();
    void chunkLinesAsTheirText();
    void lineLongerThanTheLimit();
};

void tst_TextPane::prependGoesOnTop_data()
{
    QTest::addColumn<QString>("old");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty pane") << QString() << QStringLiteral("a\r\n") << QStringLiteral("a\n");
    QTest::newRow("above older lines") << QStringLiteral("b\r\nc\r\n") << QStringLiteral("a\r\n")
                                       << QStringLiteral("a\nb\nc\n");
    QTest::newRow("chunk ending in CR LF leaves an empty line")
        << QStringLiteral("old\r\n") << QStringLiteral("t:  IN (ASCII):x\r\n\r\n") << QStringLiteral("t:  IN (ASCII):x\n\nold\n");
    QTest::newRow("lone CR and lone LF end lines") << QString() << QStringLiteral("a\rb\nc\r\n")
                                                   << QStringLiteral("a\nb\nc\n");
    QTest::newRow("CR before CR LF, LF before CR") << QString() << QStringLiteral("a\r\r\nb\n\r\n")
                                                  << QStringLiteral("a\n\nb\n\n");
    const QString longLine(TextPane::LineBlock - 100, QLatin1Char('l')); // below the newest lines, after a group
    QTest::newRow("a long line among many")
        << QStringLiteral("old\r\n").repeated(300) + longLine + QStringLiteral("\r\nlast\r\n") << QStringLiteral("a\r\n")
        << QStringLiteral("a\n") + QStringLiteral("old\n").repeated(300) + longLine + QStringLiteral("\nlast\n");
    QTest::newRow("many lines above many") << QStringLiteral("old\r\n").repeated(300) << QStringLiteral("new\r\n").repeated(300)
                                           << QStringLiteral("new\n").repeated(300) + QStringLiteral("old\n").repeated(300);
    QTest::newRow("empty payload") << QString() << QStringLiteral("\r\n") << QStringLiteral("\n");
    QTest::newRow("tab, no-break space, codes 128 to 255 and control characters stay")
        << QString() << QStringLiteral("\t\u00A0\u0080\u00FF\u00A6\x01\x1B\x7F\r\n")
        << QStringLiteral("\t\u00A0\u0080\u00FF\u00A6\x01\x1B\x7F\n");
}

void tst_TextPane::prependGoesOnTop()
{
    QFETCH(QString, old);
    QFETCH(QString, line);
    QFETCH(QString, expected);
    TextPane pane(TextPane::DropEnd::Bottom);
    pane.replaceText(old);
    pane.prependLine(line);
    QCOMPARE(pane.text(), expected);
    QCOMPARE(pane.text(), TextPane::plainText(line + old));
    QCOMPARE(pane.characterCount(), expected.size());
    // Below the newest lines, lines share blocks; each block is laid out in one go.
    QVERIFY(pane.document()->blockCount() <= TextPane::TopBlocks + expected.count(QLatin1Char('\n')) / 32 + 2);
    for (QTextBlock block = pane.document()->begin(); block.isValid(); block = block.next())
        QVERIFY(block.length() <= TextPane::LineBlock + 1);
    QCOMPARE(pane.toPlainText(), QString(expected).replace(QChar(0xA0), QLatin1Char(' ')));
    // No undo history: the document also reclaims what the status writer replaces.
    QVERIFY(!pane.document()->isUndoAvailable());
}

void tst_TextPane::operatorTypedTextIsCarriedAlong()
{
    TextPane pane(TextPane::DropEnd::Bottom);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.setFocus();
    pane.prependLine(QStringLiteral("first\r\n"));
    pane.moveCursor(QTextCursor::End);
    QTest::keyClicks(&pane, QStringLiteral("typed"));
    QTest::keyClick(&pane, Qt::Key_Return);
    QTest::keyClicks(&pane, QStringLiteral("more"));
    pane.prependLine(QStringLiteral("second\r\n"));
    QCOMPARE(pane.text(), QStringLiteral("second\nfirst\ntyped\nmore"));

    // Typed at the very top, with lines arriving in between: the caret stays where the
    // operator put it, and the typed text keeps its order.
    pane.moveCursor(QTextCursor::Start);
    QTest::keyClicks(&pane, QStringLiteral("ab"));
    pane.prependLine(QStringLiteral("third\r\n"));
    QTest::keyClicks(&pane, QStringLiteral("cd"));
    QCOMPARE(pane.text(), QStringLiteral("third\nabcdsecond\nfirst\ntyped\nmore"));
}

void tst_TextPane::dropsOldestFirst_data()
{
    QTest::addColumn<bool>("atTop"); // lines go on top (data pane) or at the end (log)
    QTest::addColumn<int>("lineLength"); // 0: varied
    QTest::addColumn<int>("limit");
    QTest::newRow("data pane") << true << 20 << 1600;
    QTest::newRow("data pane, lines of varied length") << true << 0 << 1600;
    QTest::newRow("log") << false << 20 << 1600;
    QTest::newRow("log, lines of varied length") << false << 0 << 1600;
    QTest::newRow("data pane, lines as long as a drop block") << true << 100 << 1600;
    // Below the newest lines, several lines share a block.
    QTest::newRow("data pane, lines grouped") << true << 0 << 40000;
    QTest::newRow("log, lines grouped") << false << 0 << 40000;
}

void tst_TextPane::dropsOldestFirst()
{
    QFETCH(bool, atTop);
    QFETCH(int, lineLength);
    QFETCH(int, limit);
    TextPane pane(atTop ? TextPane::DropEnd::Bottom : TextPane::DropEnd::Top, limit);
    // The log's first lines in one piece, as a saved log comes back.
    const QString saved = QStringLiteral("saved by the last run, forty characters");
    if (!atTop)
        pane.replaceText((saved + QStringLiteral("\r\n")).repeated(limit / 100));

    // Every line as the pane shows it, oldest first.
    QStringList shown(atTop ? 0 : limit / 100, saved + QLatin1Char('\n'));
    int drops = 0;
    qsizetype added = shown.join(QString()).size();
    for (int i = 0; i < 1000; ++i) {
        const int length = lineLength > 0 ? lineLength : 1 + (i * 37) % 150;
        QString body = QString::number(i) + QLatin1Char(':');
        body += QString(std::max<qsizetype>(0, length - body.size()), QLatin1Char('x'));
        const qsizetype before = pane.characterCount();
        if (atTop)
            pane.prependLine(body + QStringLiteral("\r\n"));
        else
            pane.appendLine(body + QStringLiteral("\r\n"));
        shown.append(body + QLatin1Char('\n'));
        added += shown.last().size();
        if (pane.characterCount() < before)
            ++drops;

        QVERIFY(pane.characterCount() <= limit);
        // What stays is exactly the newest lines, whole, in their order.
        const QString text = pane.text();
        QVERIFY(!text.isEmpty());
        qsizetype kept = 0;
        QString expected;
        for (qsizetype n = shown.size() - 1; n >= 0 && expected.size() < text.size(); --n, ++kept)
            atTop ? expected.append(shown.at(n)) : expected.prepend(shown.at(n));
        QCOMPARE(text, expected);
        // Dropping takes a block at a time, never the whole pane.
        if (shown.size() > kept)
            QVERIFY2(text.size() >= limit - limit / 16 - 2 * 151, qPrintable(QString::number(text.size())));
    }
    QVERIFY2(!atTop || limit < 2000 ||
                 pane.document()->blockCount() < TextPane::TopBlocks + TextPane::GroupLines + pane.text().count(u'\n') / 8,
             qPrintable(QString::number(pane.document()->blockCount())));
    // Each drop takes at least a sixteenth of the limit.
    QVERIFY(drops > 0);
    QVERIFY2(drops <= (added - limit) / (limit / 16) + 1, qPrintable(QString::number(drops)));
}

void tst_TextPane::lineLongerThanTheLimit()
{
    for (const auto end : {TextPane::DropEnd::Bottom, TextPane::DropEnd::Top}) {
        TextPane pane(end, 100);
        const auto add = [&](const QString &line) {
            end == TextPane::DropEnd::Bottom ? pane.prependLine(line) : pane.appendLine(line);
        };
        pane.appendLine(QStringLiteral("old\r\n"));
        add(QString(250, QLatin1Char('h')) + QStringLiteral("\r\n"));
        QCOMPARE(pane.text(), QString(100, QLatin1Char('h')));
        add(QStringLiteral("next\r\n")); // the pane goes on working afterwards
        QCOMPARE(pane.text(), QStringLiteral("next\n"));
    }
}

void tst_TextPane::linesJoinAtTheNextTurn()
{
    // The handler that adds lines does not wait for their layout: they join the document, all
    // of one turn at once, at either end in the order they came, when the event loop comes round.
    TextPane pane(TextPane::DropEnd::Bottom);
    pane.appendLine(QStringLiteral("Listening\r\n"));
    pane.prependLine(QStringLiteral("first\r\n"));
    pane.prependLine(QStringLiteral("second\r\n"));
    pane.appendLine(QStringLiteral("connected\r\n"));
    QCOMPARE(pane.document()->characterCount(), 1);
    QTRY_COMPARE(pane.toPlainText(), QStringLiteral("second\nfirst\nListening\nconnected\n"));
    pane.prependLine(QStringLiteral("third\r\n"));
    QCOMPARE(pane.text(), QStringLiteral("third\nsecond\nfirst\nListening\nconnected\n")); // what waits is taken in
}

void tst_TextPane::longLinesAreLaidOutOnlyInView()
{
    TextPane pane(TextPane::DropEnd::Bottom, 10 * TextPane::LineBlock);
    pane.resize(400, 200);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    const QString longLine = QString(5 * TextPane::LineBlock + 5, QLatin1Char('x'));
    pane.prependLine(QStringLiteral("old\r\n"));
    pane.prependLine(longLine + QStringLiteral("\r\n"));
    QCOMPARE(pane.text(), longLine + QStringLiteral("\nold\n"));
    QCOMPARE(pane.document()->blockCount(), 6 + 2);
    QTRY_VERIFY(pane.document()->firstBlock().layout()->lineCount() > 0);
    // Only the blocks in view and about it are laid out, not the whole line.
    int laidOut = 0;
    for (QTextBlock block = pane.document()->begin(); block.isValid(); block = block.next())
        laidOut += block.layout()->lineCount() > 1;
    QVERIFY2(laidOut <= 2, qPrintable(QString::number(laidOut)));
    // When the oldest lines go, a line held in blocks goes whole.
    pane.prependLine(QString(7 * TextPane::LineBlock, QLatin1Char('y')) + QStringLiteral("\r\n"));
    QCOMPARE(pane.text(), QString(7 * TextPane::LineBlock, QLatin1Char('y')) + QStringLiteral("\n"));
}

void tst_TextPane::chunkLinesAsTheirText()
{
    // A chunk's line rendered when it joins the text is the line a capture builds; in a flood,
    // lines that the newer ones would push out at once never join.
    QByteArray every;
    for (int b = 0; b < 256; ++b)
        every.append(char(b));
    const QString stamp = QStringLiteral("7 Dec 2026 19:03:32");
    TextPane direct(TextPane::DropEnd::Bottom, 2000);
    TextPane asText(TextPane::DropEnd::Bottom, 2000);
    for (int i = 0; i < 6; ++i) {
        direct.prependChunkLine(stamp, CaptureFiles::InAsciiTag, every, TextPane::Rendering::Ascii);
        direct.prependChunkLine(stamp, CaptureFiles::InHexTag, every, TextPane::Rendering::Hex);
        asText.prependLine(CaptureFiles::asciiLine(stamp, CaptureFiles::InAsciiTag, every));
        asText.prependLine(CaptureFiles::hexLine(stamp, CaptureFiles::InHexTag, every));
    }
    QCOMPARE(direct.text(), asText.text());
    QVERIFY(direct.text().startsWith(stamp + CaptureFiles::InHexTag + CaptureFiles::hexRendering(every)));
    QVERIFY(direct.characterCount() <= 2000);
}

QTEST_MAIN(tst_TextPane)
#include "tst_textpane.moc"
