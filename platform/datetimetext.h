#ifndef GPSA_DATETIMETEXT_H
#define GPSA_DATETIMETEXT_H

#include <QDateTime>
#include <QString>

// Date and time texts in the system's regional settings.
namespace DateTimeText {

// The short date form, such as 06/12/2026 or 12/6/26.
[[nodiscard]] QString shortDate(const QDate &date);

// The long time form with seconds and without a time-zone name, such as 19:03:32.
[[nodiscard]] QString longTime(const QTime &time);

// The general date-time form: the short date, one blank, the long time; a time of exactly
// midnight shows the date alone.
[[nodiscard]] QString general(const QDateTime &moment);

// general() of the current local date and time.
[[nodiscard]] QString now();

} // namespace DateTimeText

#endif
