#ifndef GPSA_CAPTURECHECK_H
#define GPSA_CAPTURECHECK_H

#include <QByteArray>
#include <QString>

// What a capture folder holds for one port: the data files x<number>_<port>.dat joined in
// number order, compared with the bytes that were sent.
struct CaptureCheck
{
    qint64 dataFiles = 0;
    qint64 lengthLogs = 0;
    qint64 bytes = 0;
    bool equal = false;
    QString problem; // empty when equal

    [[nodiscard]] static CaptureCheck of(const QString &folder, quint16 port, const QByteArray &sent);
};

#endif
