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
    const char *classId; // the entry's drop target, a class of the helper's local server
};

constexpr VerbEntry verbTable[] = {
    { Verb::Edit, "-ftype_edit", "Vellix01Edit", "{F931AC29-1F3B-41BF-B57E-C7F1DCEAC62F}" },
    { Verb::Split, "-ftype_split", "Vellix04Split", "{6CCC1459-8CA3-4A8A-87CF-821E3D2A11A7}" },
    { Verb::Merge, "-ftype_merge", "Vellix03Merge", "{15201231-5800-489E-99FF-D77DACD8CD7F}" },
    { Verb::Print, "-ftype_print", "Vellix02Print", "{5392FB98-972A-4E42-97C8-71A30A106844}" },
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
