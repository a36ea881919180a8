#include "browserstrip.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>

BrowserStrip::BrowserStrip(QWidget *parent) : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

void BrowserStrip::setPageValue(const QString &name, const QString &value)
{
    m_pageValues.insert(QStringLiteral("{{") + name + QStringLiteral("}}"), value);
}

void BrowserStrip::Navigate(const QString &address)
{
    const quint64 navigation = ++m_navigation;
    if (m_reply)
        m_reply->abort();

    QUrl url(address);
    if (url.scheme().isEmpty() || (url.scheme().size() == 1 && address.size() > 1 && address.at(1) == u':'))
        url = QUrl::fromLocalFile(address); // a plain path, or a drive letter
    m_address = url;

    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1StringView("http") || scheme == QLatin1StringView("https")) {
        fetch(url, navigation);
        return;
    }
    // Even a page on disk shows only after the caller has gone on.
    QTimer::singleShot(0, this, [this, url, navigation] {
        if (navigation == m_navigation)
            loadFromDisk(url, navigation);
    });
}

void BrowserStrip::loadFromDisk(const QUrl &url, quint64 /*navigation*/)
{
    const QString scheme = url.scheme().toLower();
    QString path;
    if (scheme == QLatin1StringView("qrc"))
        path = QLatin1Char(':') + url.path();
    else if (scheme == QLatin1StringView("file"))
        path = url.toLocalFile();
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > MaxPageBytes) {
        showBlank();
        return;
    }
    showPage(file.readAll(), url, true);
}

void BrowserStrip::fetch(const QUrl &url, quint64 navigation)
{
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(url);
    request.setTransferTimeout(TransferTimeoutMs);
    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;

    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64 total) {
        if (received > MaxPageBytes || total > MaxPageBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, url, navigation] {
        reply->deleteLater();
        if (navigation != m_navigation)
            return; // a later navigation has taken over
        const QByteArray page = reply->error() == QNetworkReply::NoError ? reply->read(MaxPageBytes + 1) : QByteArray();
        if (reply->error() != QNetworkReply::NoError || page.size() > MaxPageBytes) {
            showBlank();
            return;
        }
        showPage(page, url, false);
    });
}

void BrowserStrip::showPage(const QByteArray &page, const QUrl &url, bool fromDisk)
{
    QStringDecoder decoder = QStringDecoder::decoderForHtml(page);
    QString html = decoder.isValid() ? decoder.decode(page) : QString::fromUtf8(page);
    if (fromDisk) {
        for (auto it = m_pageValues.cbegin(); it != m_pageValues.cend(); ++it)
            html.replace(it.key(), it.value().toHtmlEscaped());
    }
    document()->setBaseUrl(url);
    setHtml(html);
    emit loadFinished(true);
}

void BrowserStrip::showBlank()
{
    clear();
    emit loadFinished(false);
}
