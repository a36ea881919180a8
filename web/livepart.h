#ifndef GPSA_LIVEPART_H
#define GPSA_LIVEPART_H

#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

// One part of the live page, with a JSON message type of its own: the connection log ("log") and
// the data pane ("data") always; a table of the features that run, each a part of its own type
// (the trackers, "trackers"; the decoded positions, "positions"). Every message of a part is a
// JSON object whose "type" is the part's type; the page shows the parts that the view names.
class LivePart
{
public:
    explicit LivePart(QString type) : m_type(std::move(type)) {}
    virtual ~LivePart() = default;
    LivePart(const LivePart &) = delete;
    LivePart &operator=(const LivePart &) = delete;

    [[nodiscard]] const QString &type() const { return m_type; }

    // The message that brings a viewer that has just connected up to date.
    [[nodiscard]] virtual QJsonObject snapshot() const = 0;
    // What changed since the last call, as one message; nothing when nothing did. Called only
    // while someone watches.
    [[nodiscard]] virtual std::optional<QJsonObject> takeChanges() = 0;
    // Nobody watches: what changed need not be kept for a message.
    virtual void setWatched(bool watched) { m_watched = watched; }
    [[nodiscard]] bool watched() const { return m_watched; }

    // How the view that shows the part learns that changes wait.
    void setChangeNotice(std::function<void()> notice) { m_notice = std::move(notice); }

protected:
    void changed()
    {
        if (m_watched && m_notice)
            m_notice();
    }

private:
    QString m_type;
    bool m_watched = false;
    std::function<void()> m_notice;
};

#endif
