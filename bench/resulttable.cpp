#include "resulttable.h"

#include "benchfigures.h"

#include <algorithm>
#include <cmath>

namespace {

QString formatted(std::optional<double> value)
{
    if (!value)
        return QStringLiteral("n/a");
    const double v = *value;
    if (std::fabs(v) >= 1000)
        return QString::number(qint64(std::llround(v)));
    if (std::fabs(v) >= 10)
        return QString::number(v, 'f', 1);
    return QString::number(v, 'f', 2);
}

QString row(const QStringList &cells)
{
    return QStringLiteral("| ") + cells.join(QStringLiteral(" | ")) + QStringLiteral(" |\n");
}

QString rule(qsizetype columns)
{
    QStringList cells;
    for (qsizetype i = 0; i < columns; ++i)
        cells << QStringLiteral("---");
    return row(cells);
}

} // namespace

void ResultTable::add(const QString &peer, const QString &figure, double value)
{
    m_values[peer][figure].append(value);
}

std::optional<double> ResultTable::median(const QString &peer, const QString &figure) const
{
    QList<double> values = m_values.value(peer).value(figure);
    if (values.isEmpty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int ResultTable::repetitions(const QString &peer, const QString &figure) const
{
    return int(m_values.value(peer).value(figure).size());
}

int ResultTable::misses() const
{
    int count = 0;
    for (const Target &t : m_targets) {
        if (t.value && t.reference && *t.reference != 0) {
            const double ratio = *t.value / *t.reference;
            if (t.atLeast ? ratio < t.limit : ratio > t.limit)
                ++count;
        }
    }
    return count;
}

QString ResultTable::render(const QStringList &peers) const
{
    QString out;
    const QStringList columns = BenchFigures::relayColumns();
    out += row(QStringList{QStringLiteral("peer")} + columns);
    out += rule(columns.size() + 1);
    for (const QString &peer : peers) {
        QStringList cells{peer};
        for (const QString &figure : columns)
            cells << formatted(median(peer, figure));
        out += row(cells);
    }

    out += QLatin1Char('\n');
    out += row({QStringLiteral("other figure"), QStringLiteral("median"), QStringLiteral("repetitions")});
    out += rule(3);
    for (auto peer = m_values.cbegin(); peer != m_values.cend(); ++peer) {
        if (peers.contains(peer.key()))
            continue;
        for (auto figure = peer->cbegin(); figure != peer->cend(); ++figure)
            out += row({peer.key() + QStringLiteral(": ") + figure.key(), formatted(median(peer.key(), figure.key())),
                        QString::number(figure->size())});
    }

    out += QLatin1Char('\n');
    out += row({QStringLiteral("target"), QStringLiteral("ratio"), QStringLiteral("limit"), QStringLiteral("result")});
    out += rule(4);
    for (const Target &t : m_targets) {
        QString ratio = QStringLiteral("n/a");
        QString verdict = QStringLiteral("n/a");
        if (t.value && t.reference && *t.reference != 0) {
            const double r = *t.value / *t.reference;
            ratio = QString::number(r, 'f', 3);
            verdict = (t.atLeast ? r >= t.limit : r <= t.limit) ? QStringLiteral("PASS") : QStringLiteral("MISS");
        }
        out += row({t.name + QStringLiteral(" (") + t.ratioText + QLatin1Char(')'), ratio,
                    (t.atLeast ? QStringLiteral(">= ") : QStringLiteral("<= ")) + QString::number(t.limit), verdict});
    }

    if (!m_notes.isEmpty()) {
        out += QLatin1Char('\n');
        for (const QString &n : m_notes)
            out += QStringLiteral("- ") + n + QLatin1Char('\n');
    }
    return out;
}
