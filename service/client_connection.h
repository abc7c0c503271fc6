#pragma once
// One client of a control socket, on the connected socket's own descriptor.
// QLocalSocket closes both ways as soon as the peer ends its input, which
// loses the replies to what it asked just before
// (`echo REQUEST | socat - UNIX-CONNECT:PATH`); here the end of the peer's
// input is only news, and writing goes on until the owner is done.
// Writes never block: what the kernel will not take yet waits here, and
// bytes_to_write() says how far the peer has fallen behind.

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace relay {

class client_connection : public QObject {
    Q_OBJECT
public:
    // Takes the connected socket; it is closed with this object at the latest.
    explicit client_connection(int fd, QObject* parent = nullptr);
    ~client_connection() override;
    client_connection(const client_connection&) = delete;
    client_connection& operator=(const client_connection&) = delete;

    // Queues the bytes and writes what the kernel takes now; false once the
    // peer is gone.
    bool write(const QByteArray& bytes);
    qint64 bytes_to_write() const { return pending.size(); }
    bool is_input_ended() const { return input_ended; }
    // The peer closed its reading side too (or entirely): nothing written
    // will reach it.
    bool is_peer_gone() const;
    // Closes once everything queued is written, or at once when the peer is
    // gone; then emits finished() and deletes itself.
    void close_when_written();
    // Closes now, dropping what waits; emits nothing and deletes itself.
    void abort();

signals:
    void received(const QByteArray& bytes);
    // The peer will send nothing more but may still read.
    void input_finished();
    // The descriptor is closed: the peer left, a write failed, or
    // close_when_written() is done.
    void finished();

private:
    void read_some();
    void write_some();
    void end();  // closes, tells, and goes
    void shut();

    int fd = -1;
    QSocketNotifier* readable = nullptr;
    QSocketNotifier* writable = nullptr;
    QByteArray pending;
    bool broken = false;
    bool closing = false;
    bool input_ended = false;
};

}  // namespace relay
