#include "capturefolder.h"

#include "capturefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

CaptureFolder::CaptureFolder(QString folder) : m_folder(std::move(folder))
{
    static const QRegularExpression name(QStringLiteral("^x(\\d{4,})_(err)?(\\d+)\\.(dat|log)$"));
    const QDir dir(m_folder);
    for (const QString &file : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        const QRegularExpressionMatch match = name.match(file);
        if (!match.hasMatch()) {
            m_strays.append(file);
            continue;
        }
        const qint32 number = match.captured(1).toInt();
        const bool errorLog = !match.captured(2).isEmpty();
        const bool data = match.captured(4) == QLatin1StringView("dat");
        if (errorLog && data) {
            m_strays.append(file);
            continue;
        }
        Capture &capture = m_captures[number];
        const int port = match.captured(3).toInt();
        if ((capture.number != 0 && (capture.port != port || capture.errorLog != errorLog)) ||
            (data ? !capture.dataPath.isEmpty() : !capture.logPath.isEmpty()))
            m_duplicates.append(file);
        capture.number = number;
        capture.port = port;
        capture.errorLog = errorLog;
        (data ? capture.dataPath : capture.logPath) = dir.filePath(file);
    }
}

QString CaptureFolder::problem(qint32 first, qint32 below) const
{
    if (!m_duplicates.isEmpty())
        return QStringLiteral("several captures under one number: ") + m_duplicates.join(QLatin1Char(' '));
    qint32 expected = first;
    for (const Capture &capture : m_captures) {
        if (capture.number >= below)
            break;
        if (capture.number != expected)
            return QStringLiteral("number %1 follows %2").arg(capture.number).arg(expected - 1);
        ++expected;
        if (capture.logPath.isEmpty() || (!capture.errorLog && capture.dataPath.isEmpty()))
            return QStringLiteral("capture %1 lacks a file").arg(capture.number);
        if (capture.errorLog)
            continue;
        const QByteArray line = CaptureFiles::lengthLine(QFileInfo(capture.dataPath).size());
        const QByteArray found = contents(capture.logPath);
        if (found != line)
            return QStringLiteral("%1 holds \"%2\", its data file needs \"%3\"")
                .arg(capture.logPath, QString::fromLatin1(found.toPercentEncoding()),
                     QString::fromLatin1(line.toPercentEncoding()));
    }
    return {};
}

QByteArray CaptureFolder::joined(int port, qint32 below) const
{
    QByteArray all;
    for (const Capture &capture : m_captures) {
        if (capture.number >= below)
            break;
        if (!capture.errorLog && capture.port == port)
            all += contents(capture.dataPath);
    }
    return all;
}

QMap<QString, QByteArray> CaptureFolder::snapshot() const
{
    QMap<QString, QByteArray> files;
    const QDir dir(m_folder);
    for (const QString &file : dir.entryList(QDir::Files | QDir::Hidden))
        files.insert(file, contents(dir.filePath(file)));
    return files;
}

QByteArray CaptureFolder::contents(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
