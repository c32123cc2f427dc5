// The reading of the editor's settings file: any content yields a caption
// for every verb, the one the language read from it calls for.

#include "captions.h"

#include <QtCore/qdatetime.h>
#include <QtCore/qdir.h>
#include <QtCore/qfile.h>
#include <QtCore/qtemporarydir.h>

#include <cstdint>
#include <cstdlib>

namespace {

QTemporaryDir *home = nullptr;

QString settingsFile()
{
    return home->path() + QStringLiteral("/AppData/Roaming/Zentharo/Vellix/config.ini");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    home = new QTemporaryDir;
    qputenv("HOME", QFile::encodeName(home->path()));
    QDir().mkpath(QFileInfo(settingsFile()).path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!home)
        LLVMFuzzerInitialize(nullptr, nullptr);
    {
        QFile file(settingsFile());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
        file.flush();
        // The settings class knows a file again by size and time: make each
        // input a new one.
        static qint64 generation = 0;
        file.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000 + ++generation), QFileDevice::FileModificationTime);
    }
    const QString language = readUserLanguage();
    for (Verb verb : { Verb::Edit, Verb::Split, Verb::Merge, Verb::Print }) {
        const QString caption = verbCaption(verb);
        if (caption.isEmpty() || caption != verbCaptionFor(language, verb))
            std::abort();
    }
    return 0;
}
