#include "sessionindexline.h"

#include "civildate.h"
#include "hexdigits.h"
#include "positiontext.h"
#include "sessionerror.h"

#include <QList>

#include <array>
#include <charconv>

namespace SessionIndexLine {

namespace {

constexpr std::array<QByteArrayView, 13> KindNames{"listen", "connect",    "declined", "in",       "out",
                                                   "cmd",    "ack",        "pass",     "error",    "disconnect",
                                                   "mirror", "udp-peer",   "udp-quiet"};
constexpr int FieldCount = 9;
constexpr qint64 UsPerDay = 86'400'000'000;

void appendNumber(QByteArray &line, qint64 value)
{
    char digits[24];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
    line.append(digits, result.ptr - digits);
}

void appendEscaped(QByteArray &line, const QString &text)
{
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '\t':
            line.append("\\t", 2);
            break;
        case '\r':
            line.append("\\r", 2);
            break;
        case '\n':
            line.append("\\n", 2);
            break;
        case '\\':
            line.append("\\\\", 2);
            break;
        default:
            line.append(c);
        }
    }
}

[[noreturn]] void fail(const QString &what)
{
    throw SessionError(what);
}

QString unescaped(QByteArrayView field, const char *name)
{
    if (!field.contains('\\'))
        return QString::fromUtf8(field);
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            bytes.append(field[i]);
            continue;
        }
        const char next = i + 1 < field.size() ? field[++i] : '\0';
        switch (next) {
        case 't':
            bytes.append('\t');
            break;
        case 'r':
            bytes.append('\r');
            break;
        case 'n':
            bytes.append('\n');
            break;
        case '\\':
            bytes.append('\\');
            break;
        default:
            fail(QStringLiteral("the %1 has a backslash that starts no \\t, \\r, \\n or \\\\")
                     .arg(QLatin1StringView(name)));
        }
    }
    return QString::fromUtf8(bytes);
}

// A decimal field: empty gives fallback; otherwise digits only, from minimum to maximum.
qint64 numberField(QByteArrayView field, qint64 fallback, qint64 minimum, qint64 maximum, const char *name)
{
    if (field.isEmpty())
        return fallback;
    qint64 value = 0;
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
    if (field.front() == '-' || result.ec != std::errc() || result.ptr != field.data() + field.size() ||
        value < minimum || value > maximum)
        fail(QStringLiteral("the %1 '%2' is not a number from %3 to %4")
                 .arg(QLatin1StringView(name), QString::fromUtf8(field))
                 .arg(minimum)
                 .arg(maximum));
    return value;
}

QByteArray bytesField(QByteArrayView field)
{
    QByteArray bytes(field.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int byte = Hex::byteValue(quint8(field[2 * i]), quint8(field[2 * i + 1]));
        if (byte < 0)
            fail(QStringLiteral("the bytes are not hexadecimal"));
        bytes[i] = char(byte);
    }
    if (field.size() % 2 != 0)
        fail(QStringLiteral("the bytes have an odd number of hexadecimal digits"));
    return bytes;
}

} // namespace

QByteArrayView kindName(SessionEvent::Kind kind)
{
    return KindNames[std::size_t(kind)];
}

std::optional<qint64> parseUtcTime(QByteArrayView text)
{
    // Every character is checked against the pattern, so that a date's digits are digits.
    constexpr QByteArrayView Pattern{"dddd-dd-ddTdd:dd:dd.ddddddZ"};
    if (text.size() != Pattern.size())
        return std::nullopt;
    for (qsizetype i = 0; i < Pattern.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (Pattern[i] == 'd' ? !digit : text[i] != Pattern[i])
            return std::nullopt;
    }
    const auto field = [text](qsizetype from, qsizetype width) {
        qint64 value = 0;
        for (qsizetype i = from; i < from + width; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    const qint64 month = field(5, 2), day = field(8, 2), hour = field(11, 2), minute = field(14, 2),
                 second = field(17, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const qint64 days = CivilDate::daysSince1970(field(0, 4), int(month), int(day));
    return days * UsPerDay + ((hour * 60 + minute) * 60 + second) * 1'000'000 + field(20, 6);
}

QByteArray format(const SessionEvent &event)
{
    QByteArray line;
    line.reserve(64 + 2 * (event.peer.size() + event.file.size() + event.note.size()) + 2 * event.bytes.size());
    if (event.number != 0)
        appendNumber(line, event.number);
    line.append('\t');
    PositionText::appendCaptureTime(line, event.timeUs);
    line.append('\t');
    line.append(kindName(event.kind));
    line.append('\t');
    appendEscaped(line, event.peer);
    line.append('\t');
    if (event.port != 0)
        appendNumber(line, event.port);
    line.append('\t');
    if (event.length != -1)
        appendNumber(line, event.length);
    line.append('\t');
    appendEscaped(line, event.file);
    line.append('\t');
    line += Hex::upper(event.bytes);
    line.append('\t');
    appendEscaped(line, event.note);
    line.append('\n');
    return line;
}

SessionEvent parse(QByteArrayView line)
{
    if (line.endsWith('\r'))
        line.chop(1); // an index that went through a Windows editor
    QList<QByteArrayView> fields;
    fields.reserve(FieldCount);
    for (qsizetype start = 0;;) {
        const qsizetype tab = line.indexOf('\t', start);
        fields.append(line.sliced(start, (tab < 0 ? line.size() : tab) - start));
        if (tab < 0)
            break;
        start = tab + 1;
    }
    if (fields.size() != FieldCount)
        fail(QStringLiteral("it has %1 fields instead of %2").arg(fields.size()).arg(FieldCount));

    SessionEvent event;
    const auto kind = std::find(KindNames.begin(), KindNames.end(), fields[2]);
    if (kind == KindNames.end())
        fail(QStringLiteral("'%1' is no event").arg(QString::fromUtf8(fields[2])));
    event.kind = SessionEvent::Kind(kind - KindNames.begin());
    event.number = qint32(numberField(fields[0], 0, 1, std::numeric_limits<qint32>::max(), "number"));
    const std::optional<qint64> time = parseUtcTime(fields[1]);
    if (!time)
        fail(QStringLiteral("the time '%1' is not like 2026-12-06T19:43:27.123456Z")
                 .arg(QString::fromUtf8(fields[1])));
    event.timeUs = *time;
    event.peer = unescaped(fields[3], "peer");
    event.port = int(numberField(fields[4], 0, 1, 65535, "port"));
    event.length = numberField(fields[5], -1, 0, std::numeric_limits<qint64>::max(), "length");
    event.file = unescaped(fields[6], "file");
    event.bytes = bytesField(fields[7]);
    event.note = unescaped(fields[8], "note");
    return event;
}

} // namespace SessionIndexLine
