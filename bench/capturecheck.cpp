#include "capturecheck.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <map>

CaptureCheck CaptureCheck::of(const QString &folder, quint16 port, const QByteArray &sent)
{
    CaptureCheck check;
    const QRegularExpression name(QStringLiteral("^x(\\d+)_%1\\.(dat|log)$").arg(port));
    std::map<qint64, QString> dataFiles;
    const QDir dir(folder);
    for (const QString &entry : dir.entryList(QDir::Files)) {
        const QRegularExpressionMatch match = name.match(entry);
        if (!match.hasMatch())
            continue;
        if (match.capturedView(2) == QLatin1StringView("log")) {
            ++check.lengthLogs;
            continue;
        }
        dataFiles.emplace(match.capturedView(1).toLongLong(), dir.filePath(entry));
    }
    check.dataFiles = qint64(dataFiles.size());

    for (const auto &[number, path] : dataFiles) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            check.problem = QStringLiteral("cannot read %1").arg(path);
            return check;
        }
        const QByteArray content = file.readAll();
        if (check.bytes + content.size() > sent.size() ||
            content != QByteArrayView(sent).sliced(check.bytes, content.size())) {
            check.problem = QStringLiteral("%1 differs from the bytes sent at offset %2").arg(path).arg(check.bytes);
            check.bytes += content.size();
            return check;
        }
        check.bytes += content.size();
    }
    if (check.bytes != sent.size())
        check.problem = QStringLiteral("%1 bytes captured of %2 sent").arg(check.bytes).arg(sent.size());
    else if (check.lengthLogs != check.dataFiles)
        check.problem = QStringLiteral("%1 data files but %2 length logs").arg(check.dataFiles).arg(check.lengthLogs);
    check.equal = check.problem.isEmpty();
    return check;
}
