#ifndef VERBS_H
#define VERBS_H

#include <QtCore/qstring.h>

// The four context-menu entries, in the order the install writes them.
enum class Verb {
    Edit,
    Split,
    Merge,
    Print,
};

struct VerbEntry
{
    Verb verb;
    const char *flag;    // on the entry's command line, and on the editor's
    const char *keyName; // the entry's key beneath the .pdf Shell key
};

constexpr VerbEntry verbTable[] = {
    { Verb::Edit, "-ftype_edit", "Vellix01Edit" },
    { Verb::Split, "-ftype_split", "Vellix04Split" },
    { Verb::Merge, "-ftype_merge", "Vellix03Merge" },
    { Verb::Print, "-ftype_print", "Vellix02Print" },
};

// True for one of the four flags exactly as written, letter case included.
inline bool isVerbFlag(const QString &argument)
{
    for (const VerbEntry &entry : verbTable) {
        if (argument == QLatin1String(entry.flag))
            return true;
    }
    return false;
}

#endif // VERBS_H
