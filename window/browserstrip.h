#ifndef GPSA_BROWSERSTRIP_H
#define GPSA_BROWSERSTRIP_H

#include <QHash>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// A light browser strip: shows one simple HTML page, without scripts or a web engine.
// Pages load in the background: Navigate() returns before anything is shown. A qrc: or
// file: address (or a plain path) loads from disk; an http: or https: address is fetched.
// An address that cannot be reached, or a page too large to show, leaves the strip blank.
// Links in the page are not followed.
class BrowserStrip final : public QTextBrowser
{
    Q_OBJECT

public:
    explicit BrowserStrip(QWidget *parent = nullptr);

    void Navigate(const QString &address);

    // In a page loaded from disk, {{name}} stands for value (written as plain text).
    void setPageValue(const QString &name, const QString &value);

    // The address of the last Navigate().
    [[nodiscard]] QUrl address() const { return m_address; }

    // The largest page the strip fetches and shows.
    static constexpr qint64 MaxPageBytes = 1024 * 1024;
    // How long a fetch may stall before the strip gives up.
    static constexpr int TransferTimeoutMs = 30000;

signals:
    // A navigation has ended: ok when its page is shown, otherwise the strip is blank.
    void loadFinished(bool ok);

private:
    void loadFromDisk(const QUrl &url, quint64 navigation);
    void fetch(const QUrl &url, quint64 navigation);
    void showPage(const QByteArray &page, const QUrl &url, bool fromDisk);
    void showBlank();

    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QHash<QString, QString> m_pageValues;
    QUrl m_address;
    quint64 m_navigation = 0;
};

#endif
