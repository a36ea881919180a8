#include "endpointarray.h"

#include "platformerror.h"

EndpointArray::EndpointArray(QObject *parent) : QObject(parent)
{
    create(0);
}

void EndpointArray::create(qint16 index)
{
    auto *endpoint = new SocketEndpoint(this);
    if (!m_elements.empty())
        endpoint->setKeepAlive(m_elements.begin()->second->keepAlive());
    m_elements.emplace(index, endpoint);
    connect(endpoint, &SocketEndpoint::dataArrival, this,
            [this, index](qint32 bytesTotal) { emit dataArrival(index, bytesTotal); });
    connect(endpoint, &SocketEndpoint::closed, this, [this, index] { emit closed(index); });
    connect(endpoint, &SocketEndpoint::errorOccurred, this,
            [this, index](qint16 number, const QString &description) { emit errorOccurred(index, number, description); });
}

void EndpointArray::load(qint16 index)
{
    if (exists(index))
        throw PlatformError(ErrorNumber::ObjectAlreadyLoaded, QStringLiteral("Object already loaded"));
    if (index < 0)
        throw PlatformError(ErrorNumber::ControlArrayElementMissing,
                            QStringLiteral("Control array element '%1' doesn't exist").arg(index));
    create(index);
}

SocketEndpoint &EndpointArray::operator()(qint16 index) const
{
    const auto it = m_elements.find(index);
    if (it == m_elements.end())
        throw PlatformError(ErrorNumber::ControlArrayElementMissing,
                            QStringLiteral("Control array element '%1' doesn't exist").arg(index));
    return *it->second;
}
