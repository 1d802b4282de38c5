// The help the window carries with it: the About text and the language
// reference, taken from the README's sections on the language and its words
// when the program is built.
#pragma once

#include <QString>

class QWidget;

namespace mirtolan {

// The sections of `markdown` from "## The language" up to the next "## "
// heading that is not about the language or its words.
QString LanguageReference(const QString& markdown);
// The built-in README (empty when the build had none).
QString BuiltInReadme();

QString AboutText(const QString& version);

// Opens a window of its own that shows the language reference.
void ShowLanguageReference(QWidget* parent);

} // namespace mirtolan
