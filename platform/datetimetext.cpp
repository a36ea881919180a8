#include "datetimetext.h"

#include <QLocale>
#include <QRegularExpression>

#include <limits>

namespace {

// The locale's long time format without its time-zone designator ('t'), which the
// operator's timestamps never carry.
QString longTimeFormat()
{
    static const QString format = [] {
        QString f = QLocale::system().timeFormat(QLocale::LongFormat);
        f.remove(QRegularExpression(QStringLiteral("\\s*\\(?t+\\)?\\s*")));
        if (!f.contains(QLatin1Char('s')))
            f = QStringLiteral("HH:mm:ss");
        return f.trimmed();
    }();
    return format;
}

} // namespace

namespace DateTimeText {

QString shortDate(const QDate &date)
{
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

QString longTime(const QTime &time)
{
    return QLocale::system().toString(time, longTimeFormat());
}

QString general(const QDateTime &moment)
{
    const QTime time = moment.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return shortDate(moment.date());
    return shortDate(moment.date()) + QLatin1Char(' ') + longTime(time);
}

QString now()
{
    // The text changes once a second, while finding the local time costs microseconds:
    // a flood of small chunks asks many times a second. Time-zone changes fall on whole
    // seconds, so one second's text holds for the whole of it.
    thread_local qint64 textSecond = std::numeric_limits<qint64>::min();
    thread_local QString text;
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != textSecond) {
        text = general(QDateTime::fromSecsSinceEpoch(second));
        textSecond = second;
    }
    return text;
}

} // namespace DateTimeText
