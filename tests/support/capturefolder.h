#ifndef GPSA_CAPTUREFOLDER_H
#define GPSA_CAPTUREFOLDER_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <limits>

// What a run left in its capture folder, read back for checking.
class CaptureFolder final
{
public:
    struct Capture
    {
        qint32 number = 0;
        int port = 0;
        bool errorLog = false;
        QString dataPath; // empty for an error log
        QString logPath;
    };

    explicit CaptureFolder(QString folder);

    // Every capture, in number order. Files whose names are not capture names are listed
    // in strayFiles().
    [[nodiscard]] QList<Capture> captures() const { return m_captures.values(); }
    [[nodiscard]] QStringList strayFiles() const { return m_strays; }

    // Captures numbered below `below` only; the others are left out of the checks.
    static constexpr qint32 All = std::numeric_limits<qint32>::max();

    // Empty when the numbers run from first without a gap, each with one pair of data file
    // and length log holding the length line of its data file (or one error log); otherwise
    // what is wrong.
    [[nodiscard]] QString problem(qint32 first = 1, qint32 below = All) const;
    // The data files of port, joined in number order.
    [[nodiscard]] QByteArray joined(int port, qint32 below = All) const;
    // Every file of the folder with its contents.
    [[nodiscard]] QMap<QString, QByteArray> snapshot() const;

    [[nodiscard]] static QByteArray contents(const QString &path);

private:
    QString m_folder;
    QMap<qint32, Capture> m_captures;
    QStringList m_strays;
    QStringList m_duplicates;
};

#endif
