#ifndef GPSA_CIVILDATE_H
#define GPSA_CIVILDATE_H

#include <QtGlobal>

// Dates of the proleptic Gregorian calendar as days since 1970-01-01 and back: exact for every
// date, before 1970 too, by counting in whole 400-year eras of 146097 days.
namespace CivilDate {

struct Date
{
    qint64 year;
    int month; // 1 to 12
    int day;   // 1 to 31
};

[[nodiscard]] constexpr qint64 daysSince1970(qint64 year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
}

[[nodiscard]] constexpr Date dateOf(qint64 daysSince1970)
{
    const qint64 days = daysSince1970 + 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153; // March is 0
    const int month = int(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, int(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1)};
}

static_assert(daysSince1970(1970, 1, 1) == 0 && daysSince1970(2000, 3, 1) == 11017);
static_assert(dateOf(-1).year == 1969 && dateOf(-1).month == 12 && dateOf(-1).day == 31);

} // namespace CivilDate

#endif
