#ifndef GPSA_ENDPOINTLINK_H
#define GPSA_ENDPOINTLINK_H

#include "trackerlink.h"

class SocketEndpoint;

// A tracker connected over TCP: the endpoint of its slot.
class EndpointLink final : public TrackerLink
{
public:
    explicit EndpointLink(SocketEndpoint &endpoint)
        : m_endpoint(endpoint)
    {
    }

    [[nodiscard]] QString peerAddress() const override;
    [[nodiscard]] int peerPort() const override;
    [[nodiscard]] QString localAddress() const override;
    [[nodiscard]] int localPort() const override;
    [[nodiscard]] bool isOpen() const override;
    void send(const QByteArray &bytes) override;
    void setHeld(bool held) override;
    void close() override;

private:
    SocketEndpoint &m_endpoint;
};

#endif
