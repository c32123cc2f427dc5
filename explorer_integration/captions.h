#ifndef CAPTIONS_H
#define CAPTIONS_H

#include "verbs.h"

#include <QtCore/qstring.h>

// The language the user chose in the editor: the value of "Language" in the
// group "Main" of the editor's settings file; empty when there is none.
QString readUserLanguage();

// The caption of a context-menu entry in the user's language, English when
// the language is not one of the twenty. Reads the settings file anew.
QString verbCaption(Verb verb);

// The caption for a language value as it stands in the settings file.
QString verbCaptionFor(const QString &language, Verb verb);

#endif // CAPTIONS_H
