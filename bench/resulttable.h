#ifndef GPSA_RESULTTABLE_H
#define GPSA_RESULTTABLE_H

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// The figures of one benchmark run: every repetition's value of each figure of each peer,
// the medians, and the targets as ratios between medians of the same run.
class ResultTable final
{
public:
    void add(const QString &peer, const QString &figure, double value);
    [[nodiscard]] std::optional<double> median(const QString &peer, const QString &figure) const;
    [[nodiscard]] int repetitions(const QString &peer, const QString &figure) const;

    // A note printed under the tables (a skipped peer, a failed check).
    void note(const QString &text) { m_notes.append(text); }

    // One target: value / reference must stay at or below limit (or, with atLeast, reach it).
    // A missing figure prints as n/a. Returns false only for a miss.
    struct Target
    {
        QString name;
        std::optional<double> value;
        std::optional<double> reference;
        double limit = 1;
        bool atLeast = false;
        QString ratioText; // how the ratio is formed, for the reader
    };
    void addTarget(const Target &target) { m_targets.append(target); }
    [[nodiscard]] int misses() const;

    // Markdown tables, so that the output can go straight into the README.
    [[nodiscard]] QString render(const QStringList &peers) const;

private:
    QMap<QString, QMap<QString, QList<double>>> m_values;
    QList<Target> m_targets;
    QStringList m_notes;
};

#endif
