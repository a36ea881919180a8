#ifndef GPSA_POSITIONRECORD_H
#define GPSA_POSITIONRECORD_H

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

// A protocol's content beyond the position as "name=value" pairs with stable names, in the order
// the frame gives them. Held as one text (pairs separated by FieldList::Separator) so that a
// record with a dozen IO elements costs one allocation, not two dozen; a copy shares it until
// either adds to it.
class FieldList final
{
public:
    // Never part of a value: add() masks every byte outside printable ASCII with '.'.
    static constexpr char Separator = '\x1F';

    FieldList() = default;
    FieldList(const FieldList &) = default;
    FieldList &operator=(const FieldList &) = default;
    FieldList(FieldList &&other) noexcept
        : m_text(std::move(other.m_text))
        , m_size(std::exchange(other.m_size, 0))
        , m_commaOrQuote(std::exchange(other.m_commaOrQuote, false))
    {
    }
    FieldList &operator=(FieldList &&other) noexcept
    {
        m_text.swap(other.m_text);
        std::swap(m_size, other.m_size);
        std::swap(m_commaOrQuote, other.m_commaOrQuote);
        return *this;
    }
    ~FieldList() = default;

    void add(std::string_view name, QByteArrayView value);
    void add(std::string_view name, qint64 value);
    void addUnsigned(std::string_view name, quint64 value);
    // At most 3 decimals, no trailing zeros.
    void addDecimal(std::string_view name, double value);
    // The value as "0x" and at least `digits` upper-case hexadecimal digits.
    void addHex(std::string_view name, quint64 value, int digits);
    void clear()
    {
        m_size = 0;
        m_commaOrQuote = false;
    }

    [[nodiscard]] bool isEmpty() const { return m_size == 0; }
    // The pairs joined by the separator given: ' ' in a pane line, ';' in a positions file.
    [[nodiscard]] QByteArray joined(char separator) const;
    void appendJoined(QByteArray &out, char separator) const;
    // The value of the first pair of that name; empty when there is none.
    [[nodiscard]] QByteArrayView value(std::string_view name) const;
    [[nodiscard]] QByteArrayView text() const { return {m_text.constData(), m_size}; }
    // Whether a value holds a comma or a double quote, which a CSV cell quotes: known as the
    // pairs are added, where looking for them in the text took 120 instructions a record.
    [[nodiscard]] bool hasCommaOrQuote() const { return m_commaOrQuote; }

private:
    // Writes the separator, the name and '=' with room after them for a value of at most `most`
    // bytes; returns where the value goes. The text grows into room kept after it: resizing it
    // on each side of every pair took 490 instructions a pair, this about 70.
    char *startPair(std::string_view name, qsizetype most)
    {
        const qsizetype pair = 2 + qsizetype(name.size()) + most;
        if (m_text.size() - m_size < pair || !m_text.isDetached())
            makeRoom(pair);
        char *at = m_text.data() + m_size;
        if (m_size != 0)
            *at++ = Separator;
        std::memcpy(at, name.data(), name.size());
        at += name.size();
        *at++ = '=';
        return at;
    }
    void endPair(const char *end) { m_size = end - m_text.constData(); }
    // Room for `most` bytes after the text, in a buffer of its own.
    void makeRoom(qsizetype most);

    // The pairs are its first m_size bytes.
    QByteArray m_text;
    qsizetype m_size = 0;
    bool m_commaOrQuote = false;
};

// One position report of a tracker, as its frame states it. What the protocol does not carry
// stays empty; nothing is made up.
struct PositionRecord
{
    // The device's time of the fix, UTC, milliseconds since 1970.
    std::optional<qint64> fixTimeMs;
    // The device's own flag: a fix it trusts (GPS valid, 'A', satellites in use).
    bool valid = false;
    // WGS 84 decimal degrees, south and west negative.
    std::optional<double> latitude;
    std::optional<double> longitude;
    std::optional<double> altitudeM;
    std::optional<double> speedKmh;
    std::optional<double> courseDeg;
    std::optional<int> satellites;
    FieldList fields;
};

// What one intact frame says: its position records, or its other content, or why it could not be
// read. A frame gives records or fields or a reason (or nothing at all: a Teltonika ping).
class DecodedFrame final
{
public:
    // The content of a frame without records: a login's IMEI, a heartbeat's state, a response.
    FieldList fields;
    // Empty when the frame was decoded; otherwise why not, and then there is no record.
    QString reason;

    // Empties it for the next frame; the records' room stays, so that a stream of frames
    // allocates nothing once the first few have been decoded.
    void clear();
    // A new, empty record at the end.
    PositionRecord &addRecord();
    // The frame cannot be decoded: no record, no field, only the reason.
    void fail(const QString &why);

    [[nodiscard]] std::span<const PositionRecord> records() const { return {m_records.data(), m_count}; }
    [[nodiscard]] std::span<PositionRecord> records() { return {m_records.data(), m_count}; }
    [[nodiscard]] bool hasContent() const { return m_count > 0 || !fields.isEmpty() || !reason.isEmpty(); }

private:
    std::vector<PositionRecord> m_records;
    std::size_t m_count = 0;
};

#endif
