#ifndef GPSA_NATIVESOCKET_H
#define GPSA_NATIVESOCKET_H

#include <QAbstractSocket>
#include <QHostAddress>
#include <QString>

#include <utility>

// The few native socket calls that the endpoints make themselves, the same on POSIX systems
// and on Windows, and the socket error numbers and descriptions that the operator sees.
namespace NativeSocket {

[[nodiscard]] int lastSystemError();
[[nodiscard]] bool wouldBlock(int systemError);
[[nodiscard]] bool interrupted(int systemError);
void setNonBlocking(qintptr descriptor);
// Never raises SIGPIPE.
[[nodiscard]] qint64 sendSome(qintptr descriptor, const char *data, qint64 size);
[[nodiscard]] qint64 receiveSome(qintptr descriptor, char *data, qint64 size);
void closeNative(qintptr descriptor);
// Waits at most ms milliseconds for room to send.
[[nodiscard]] bool waitWritable(qintptr descriptor, int ms);
// Ends the sending side: the peer sees the end once every byte before it has arrived.
void shutdownSending(qintptr descriptor);
// Bytes the system has taken and the peer has not yet acknowledged; 0 where it cannot tell.
[[nodiscard]] qint64 unacknowledgedBytes(qintptr descriptor);
// True once the peer has ended or broken the connection, whether or not its last bytes have
// been read. Where the system cannot tell without reading, false.
[[nodiscard]] bool peerHasLeft(qintptr descriptor);

// Starts a non-blocking connection to address:port whose writes go out at once (no Nagle
// delay). Gives the descriptor, or -1; systemError is 0 when it connected at once, else the
// system error code, for which connectPending() tells that the connection is still being made:
// the descriptor turns writable when it is done, and connectOutcome() then tells how it went.
[[nodiscard]] qintptr startConnect(const QHostAddress &address, quint16 port, int &systemError);
[[nodiscard]] bool connectPending(int systemError);
// 0 once connected, else the system error code of the failed connection.
[[nodiscard]] int connectOutcome(qintptr descriptor);
// The system error code of a pending connection that has already failed, else 0. Windows tells a
// write notifier only of a connection that ends once the notifier is in place: one refused
// before then shows only here. Elsewhere the notifier tells of every end, and this is 0.
[[nodiscard]] int earlyConnectFailure(qintptr descriptor);
// Closing the descriptor will reset the connection instead of ending it in order.
void resetOnClose(qintptr descriptor);

// The socket error number for a system error code, and the description of a number.
[[nodiscard]] int numberFor(int systemError);
[[nodiscard]] QString descriptionFor(int number);
// The socket error number for an error that Qt's sockets report.
[[nodiscard]] int numberForQtError(QAbstractSocket::SocketError error);
// Asks for a receive buffer of `bytes`, beyond the system's ceiling where the process is
// allowed to; gives what the system granted, 0 where it cannot tell.
int growReceiveBuffer(qintptr descriptor, int bytes);
// Closes a descriptor that nobody took over.
void closeDescriptor(qintptr descriptor);
// An IPv4 address mapped into IPv6 (::ffff:a.b.c.d) is given back as plain IPv4.
[[nodiscard]] QHostAddress plainAddress(const QHostAddress &address);
// The addresses and ports of a connected descriptor's two ends, IPv4 ones as plain IPv4;
// a null address when unknown.
[[nodiscard]] std::pair<QHostAddress, quint16> peerOf(qintptr descriptor);
[[nodiscard]] std::pair<QHostAddress, quint16> localOf(qintptr descriptor);

} // namespace NativeSocket

#endif
