#ifndef GPSA_ENDPOINTARRAY_H
#define GPSA_ENDPOINTARRAY_H

#include "socketendpoint.h"

#include <QObject>

#include <map>

// An array of endpoints indexed by slot number. Element 0 exists from the start and is the
// template of the others: a loaded element takes over its keep-alive timings. The events of
// every element arrive with the element's index.
class EndpointArray final : public QObject
{
    Q_OBJECT

public:
    explicit EndpointArray(QObject *parent = nullptr);

    // Creates element index; throws when it exists already.
    void load(qint16 index);
    [[nodiscard]] bool exists(qint16 index) const { return m_elements.count(index) != 0; }
    // Throws when the element does not exist.
    [[nodiscard]] SocketEndpoint &operator()(qint16 index) const;

signals:
    void dataArrival(qint16 index, qint32 bytesTotal);
    void closed(qint16 index);
    void errorOccurred(qint16 index, qint16 number, const QString &description);

private:
    void create(qint16 index);

    std::map<qint16, SocketEndpoint *> m_elements;
};

#endif
