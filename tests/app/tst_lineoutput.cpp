#include "capturefiles.h"
#include "lineoutput.h"

#include <QTemporaryFile>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

class tst_LineOutput final : public QObject
{
    Q_OBJECT

private slots:
    void everyCharacterInUtf8_data();
    void everyCharacterInUtf8();
    void flushWritesAllOfABigBuffer();
    void chunkLinesAreTheirTextInUtf8_data();
    void chunkLinesAreTheirTextInUtf8();
};

namespace {

// Everything readable from a descriptor: what waits on a non-blocking one, all until the end
// on a blocking one.
QByteArray readAvailable(int descriptor)
{
    QByteArray all;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(descriptor, buffer, sizeof buffer);
        if (n <= 0)
            break;
        all.append(buffer, n);
    }
    return all;
}

} // namespace

void tst_LineOutput::everyCharacterInUtf8_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("utf8");

    QString bmp;
    for (char32_t u = 0; u <= 0xFFFF; ++u)
        if (!QChar::isSurrogate(u))
            bmp.append(QChar(char16_t(u)));
    QTest::newRow("every character of the basic plane") << bmp << bmp.toUtf8();
    QTest::newRow("surrogate pair") << QStringLiteral(u"a\U0001F600b") << QByteArray("a\xF0\x9F\x98\x80" "b");
    QTest::newRow("last code point") << QString::fromUcs4(U"\U0010FFFF") << QByteArray("\xF4\x8F\xBF\xBF");
    QTest::newRow("unpaired high surrogate")
        << QString(QChar(char16_t(0xD800))) + QLatin1Char('x') << QByteArray("\xEF\xBF\xBDx");
    QTest::newRow("unpaired low surrogate") << QString(QChar(char16_t(0xDC00))) << QByteArray("\xEF\xBF\xBD");
}

void tst_LineOutput::everyCharacterInUtf8()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, utf8);
    QTemporaryFile file;
    QVERIFY(file.open());
    {
        LineOutput output(file.handle());
        output.write(text);
    }
    QVERIFY(file.seek(0));
    QCOMPARE(file.readAll(), utf8);
}

void tst_LineOutput::flushWritesAllOfABigBuffer()
{
    // More than a pipe holds and more than the threshold: the writer waits for the reader, also
    // on a descriptor inherited in non-blocking mode, where a write takes only part.
    int fds[2];
    QCOMPARE(::pipe2(fds, O_NONBLOCK), 0);
    QCOMPARE(::fcntl(fds[0], F_SETFL, 0), 0); // the reader blocks
    const QString line = QString(1000, QLatin1Char('x')) + QStringLiteral("\r\n");
    const int lines = 3 * int(LineOutput::FlushThreshold) / int(line.size());
    const pid_t writer = ::fork();
    QVERIFY(writer >= 0);
    if (writer == 0) {
        ::close(fds[0]);
        LineOutput output(fds[1]);
        for (int i = 0; i < lines; ++i)
            output.write(line);
        output.flush();
        std::_Exit(0);
    }
    ::close(fds[1]);
    const QByteArray received = readAvailable(fds[0]); // blocking: until the writer is done
    ::close(fds[0]);
    int status = -1;
    QCOMPARE(::waitpid(writer, &status, 0), writer);
    QCOMPARE(status, 0);
    QCOMPARE(received.size(), qsizetype(lines) * line.size());
    QCOMPARE(received, line.toLatin1().repeated(lines));
}

void tst_LineOutput::chunkLinesAreTheirTextInUtf8_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("pipe") << false;
    QTest::newRow("terminal") << true;
}

void tst_LineOutput::chunkLinesAreTheirTextInUtf8()
{
    // A chunk's lines rendered straight from its bytes are the UTF-8 of the lines as text.
    QFETCH(bool, terminal);
    // A pseudo-terminal in raw mode (no CR added before LF: the bytes as written), or a pipe.
    int pty[2] = {-1, -1};
    int fds[2] = {-1, -1};
    termios raw{};
    QVERIFY(::openpty(&pty[0], &pty[1], nullptr, nullptr, nullptr) == 0 && ::tcgetattr(pty[1], &raw) == 0);
    ::cfmakeraw(&raw);
    QVERIFY(::tcsetattr(pty[1], TCSANOW, &raw) == 0 && ::pipe(fds) == 0);
    const int writeEnd = terminal ? pty[1] : fds[1];
    const int readEnd = terminal ? pty[0] : fds[0];
    ::fcntl(readEnd, F_SETFL, O_NONBLOCK);
    QByteArray every;
    for (int b = 0; b < 256; ++b)
        every.append(char(b));
    const QString timestamp = QStringLiteral("7 Dec 2026 19:03:32");
    const auto written = [&](const std::function<void(LineOutput &)> &write) {
        {
            LineOutput output(writeEnd);
            write(output);
        }
        QByteArray all;
        (void)QTest::qWaitFor([&] { return (all += readAvailable(readEnd)).endsWith("\r\n"); }, 2000);
        return all;
    };
    for (const bool hex : {false, true}) {
        const auto rendering = hex ? LineOutput::Rendering::Hex : LineOutput::Rendering::Ascii;
        const QLatin1StringView tag = hex ? CaptureFiles::InHexTag : CaptureFiles::InAsciiTag;
        const QString text =
            hex ? CaptureFiles::hexLine(timestamp, tag, every) : CaptureFiles::asciiLine(timestamp, tag, every);
        const QByteArray direct = written([&](LineOutput &o) {
            QCOMPARE(o.isTerminal(), terminal);
            o.writeChunkLine(timestamp, tag, every, rendering);
            QCOMPARE(readAvailable(readEnd), QByteArray()); // gathered until flushed
        });
        QCOMPARE(direct, written([&](LineOutput &o) { o.write(text); }));
        // On a terminal, control characters but tab, CR and LF (ESC above all) go out as '.';
        // into a pipe exactly.
        QString shown = text;
        for (QChar &c : shown) {
            const char16_t u = c.unicode();
            if (terminal && (u < 0x20 || (u >= 0x7F && u <= 0x9F)) && u != u'\t' && u != u'\r' && u != u'\n')
                c = QLatin1Char('.');
        }
        QCOMPARE(direct, shown.toUtf8());
    }
    for (const int descriptor : {pty[0], pty[1], fds[0], fds[1]})
        ::close(descriptor);
}

QTEST_GUILESS_MAIN(tst_LineOutput)
#include "tst_lineoutput.moc"
