#ifndef GPSA_SESSIONERROR_H
#define GPSA_SESSIONERROR_H

#include <QByteArray>
#include <QString>

#include <exception>

// A recorded session that cannot be read or written out: an index line that does not parse,
// a capture file that is missing or shorter than its line says, an output file that cannot be
// written. The message names the file, and the line where there is one.
class SessionError final : public std::exception
{
public:
    explicit SessionError(QString message) : m_message(std::move(message)), m_what(m_message.toUtf8()) {}

    [[nodiscard]] const QString &message() const noexcept { return m_message; }
    [[nodiscard]] const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};

#endif
