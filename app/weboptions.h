#ifndef GPSA_WEBOPTIONS_H
#define GPSA_WEBOPTIONS_H

#include "webaccess.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <optional>

// The command line's options of the live web view: --web [ADDRESS:]PORT and --web-token TOKEN.
struct WebOptions
{
    WebOptions();

    // The settings of the options given, or none without --web; the problem, empty when none.
    [[nodiscard]] QString read(const QCommandLineParser &parser, std::optional<WebSettings> *web) const;

    QCommandLineOption address;
    QCommandLineOption token;
};

#endif
