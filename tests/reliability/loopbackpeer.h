#ifndef GPSA_LOOPBACKPEER_H
#define GPSA_LOOPBACKPEER_H

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <stop_token>

// Blocking native loopback sockets for peers that run on threads of their own, so that they
// send and read as fast as loopback allows whatever the engine's event loop is doing, and
// for faults that Qt's sockets do not offer (a reset, a half-close, a peer that goes silent).
namespace LoopbackPeer {

// A socket connected to 127.0.0.1:port, or -1.
[[nodiscard]] int connectTo(quint16 port);
// A listening socket on 127.0.0.1 and a free port, which port receives; -1 on failure.
[[nodiscard]] int listenOnFreePort(quint16 &port);
// The next connection on listener, or -1 when none came within timeoutMs or stop was asked.
[[nodiscard]] int acceptOne(int listener, int timeoutMs, const std::stop_token &stop = {});

// Sends every byte unless stop is asked or the connection breaks; false then. sent counts
// the bytes that the network took.
bool sendAll(int fd, const QByteArray &bytes, const std::stop_token &stop = {}, std::atomic<qint64> *sent = nullptr);
// Reads until the peer ends the connection (true) or timeoutMs pass without a byte (false).
bool readUntilEnd(int fd, QByteArray *into, int timeoutMs);
// True when the peer ends the connection (orderly or by reset) within timeoutMs; what it
// sends before is dropped.
[[nodiscard]] bool seesEnd(int fd, int timeoutMs);

// Closing fd then resets the connection instead of ending it in order.
void resetOnClose(int fd);
// From now on every segment that reaches fd is dropped before TCP sees it: no byte, no
// acknowledgement and no reset goes back, as from a tracker whose link died.
[[nodiscard]] bool ignoreEverything(int fd);
void halfClose(int fd);
void closeSocket(int fd);

// The number of descriptors open in this process.
[[nodiscard]] int openDescriptorCount();
// Peak and current resident memory of this process in KiB (VmHWM, VmRSS).
[[nodiscard]] qint64 peakResidentKiB();
[[nodiscard]] qint64 residentKiB();

// size pseudo-random bytes from seed.
[[nodiscard]] QByteArray randomBytes(qsizetype size, quint32 seed);

} // namespace LoopbackPeer

#endif
