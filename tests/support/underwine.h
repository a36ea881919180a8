#ifndef GPSA_UNDERWINE_H
#define GPSA_UNDERWINE_H

// Whether this Windows test program runs under Wine, whose sockets differ from Windows's in
// ways that some rows see: such a row skips there, saying how (GPSA_SKIP_ON_WINE).
[[nodiscard]] bool runsUnderWine();

#define GPSA_SKIP_ON_WINE(reason)                                                                                  \
    do {                                                                                                           \
        if (runsUnderWine())                                                                                       \
            QSKIP("Wine: " reason);                                                                                \
    } while (false)

#endif
