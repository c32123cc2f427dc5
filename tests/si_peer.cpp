// A small program built on SingleApplication for the tests: it reports the
// role it got, and a primary can stay up, printing what its channel hears,
// until a release file appears.
//
//   si_peer [--options N] [--no-secondary] [--timeout MS] [--extra TEXT]
//           [--hold-until FILE | --primary-holds FILE] [--key-only]

#include "single_application.h"
#include "single_application_private.h"

#include <QtCore/qfile.h>
#include <QtCore/qtimer.h>

#include <cstdio>
#include <cstring>

namespace {

struct Options
{
    int startOptions = SingleApplication::PerUserScope;
    bool permitSecondary = true;
    int timeoutMs = 1000;
    QString extra;
    QString holdUntil;
    bool onlyPrimaryHolds = false;
    bool keyOnly = false;
};

Options parse(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : "";
        if (!std::strcmp(arg, "--options"))
            options.startOptions = std::atoi(value), ++i;
        else if (!std::strcmp(arg, "--no-secondary"))
            options.permitSecondary = false;
        else if (!std::strcmp(arg, "--timeout"))
            options.timeoutMs = std::atoi(value), ++i;
        else if (!std::strcmp(arg, "--extra"))
            options.extra = QString::fromLocal8Bit(value), ++i;
        else if (!std::strcmp(arg, "--hold-until"))
            options.holdUntil = QString::fromLocal8Bit(value), ++i;
        else if (!std::strcmp(arg, "--primary-holds"))
            options.holdUntil = QString::fromLocal8Bit(value), options.onlyPrimaryHolds = true, ++i;
        else if (!std::strcmp(arg, "--key-only"))
            options.keyOnly = true;
    }
    return options;
}

void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = parse(argc, argv);

    if (options.keyOnly) {
        QCoreApplication app(argc, argv);
        SingleApplicationPrivate probe(nullptr);
        probe.startOptions = options.startOptions;
        if (!options.extra.isEmpty())
            probe.keyExtras.append(options.extra);
        probe.deriveInstanceKey();
        say(probe.instanceKey.toLatin1());
        return 0;
    }

    SingleApplication app(argc, argv, options.permitSecondary, options.startOptions,
                          options.timeoutMs, options.extra);
    QObject::connect(&app, &SingleApplication::instanceStarted, [] { say("started"); });
    QObject::connect(&app, &SingleApplication::receivedMessage,
                     [](quint32 id, const QByteArray &message) {
        say("message " + QByteArray::number(id) + ' ' + message.toHex());
    });

    say(QByteArray(app.secondaryRole() ? "role secondary " : "role primary ")
        + QByteArray::number(app.instanceNumber()));

    if (!options.holdUntil.isEmpty() && !(options.onlyPrimaryHolds && app.secondaryRole())) {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (QFile::exists(options.holdUntil))
                app.quit();
        });
        poll.start(10);
        app.exec();
    }
    return 0;
}
