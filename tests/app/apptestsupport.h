#ifndef GPSA_APPTESTSUPPORT_H
#define GPSA_APPTESTSUPPORT_H

#include <QStringList>

#include <initializer_list>

// The program's argument list: its name, then the given arguments.
inline QStringList args(std::initializer_list<const char *> list)
{
    QStringList result{QStringLiteral("gps-analyzer")};
    for (const char *a : list)
        result.append(QString::fromUtf8(a));
    return result;
}

#endif
