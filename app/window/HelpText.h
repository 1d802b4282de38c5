// The help the window carries with it: the About text and the language
// reference, taken from the README's sections on the language and its words
// and from the word reference when the program is built.
#pragma once

#include <QString>

class QWidget;

namespace mirtolan {

// The parts of `markdown` about the language and its words: the section
// "## The language" and the run-time's "### Words" and the subsections on
// registers, interrupts and program-memory data.
QString LanguageReference(const QString& markdown);
// The built-in README and word reference (docs/words.md); empty when the build had none.
QString BuiltInReadme();
QString BuiltInWordReference();

QString AboutText(const QString& version);

// Opens a window of its own that shows the language reference.
void ShowLanguageReference(QWidget* parent);

} // namespace mirtolan
