#include "framereader.h"

void FrameReader::cutShort()
{
    throw CutShort{};
}

quint64 FrameReader::unsignedOf(int size)
{
    switch (size) {
    case 1:
        return u8();
    case 2:
        return u16();
    case 4:
        return u32();
    case 8:
        return u64();
    default:
        break;
    }
    quint64 value = 0;
    for (const char c : take(size))
        value = value << 8 | quint8(c);
    return value;
}

int FrameReader::bcd()
{
    const quint8 byte = u8();
    return (byte >> 4) > 9 || (byte & 0x0F) > 9 ? -1 : (byte >> 4) * 10 + (byte & 0x0F);
}

QByteArrayView FrameReader::field(char separator)
{
    if (m_past)
        throw CutShort{};
    const qsizetype end = m_bytes.indexOf(separator, m_position);
    if (end < 0) {
        m_past = true;
        return take(remaining());
    }
    const QByteArrayView value = take(end - m_position);
    m_position = end + 1;
    return value;
}
