#include "weboptions.h"

#include "liveviewservice.h"

WebOptions::WebOptions()
    : address(QStringLiteral("web"),
              QStringLiteral("Serves a read-only live view of the panes to browsers on [ADDRESS:]PORT (the "
                             "address 127.0.0.1 unless given, 0.0.0.0 for every address) and prints the "
                             "address to open."),
              QStringLiteral("[ADDRESS:]PORT"))
    , token(QStringLiteral("web-token"),
            QStringLiteral("With --web: the token that every request needs (default: one made at the start)."),
            QStringLiteral("TOKEN"))
{
}

QString WebOptions::read(const QCommandLineParser &parser, std::optional<WebSettings> *web) const
{
    if (!parser.isSet(address))
        return parser.isSet(token) ? QStringLiteral("--web-token goes with --web.") : QString();
    if (!LiveViewService::available())
        return QStringLiteral("--web: this build of gps-analyzer has no live view (Qt WebSockets was missing).");
    QString problem;
    *web = WebAccess::parseAddress(parser.values(address).constLast(), &problem);
    if (!*web)
        return QStringLiteral("--web: ") + problem + QLatin1Char('.');
    if (parser.isSet(token)) {
        (*web)->token = parser.values(token).constLast();
        if (const QString tokenProblem = WebAccess::tokenProblem((*web)->token); !tokenProblem.isEmpty())
            return QStringLiteral("--web-token: ") + tokenProblem + QLatin1Char('.');
    }
    return {};
}
