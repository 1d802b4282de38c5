#include "HelpText.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <array>

namespace mirtolan {

namespace {
// The README's parts that the reference shows: whole sections ("## "), and
// subsections ("### ") of others, for the words of the run-time.
constexpr std::array<const char*, 1> ReferenceSections = {"The language"};
constexpr std::array<const char*, 4> ReferenceSubsections = {"Words", "Hardware registers", "Interrupts",
                                                             "Program-memory data"};
// The reference window's first size, in pixels.
constexpr int ReferenceWidth = 760;
constexpr int ReferenceHeight = 600;
// The project has not yet named its licence anywhere in the tree; this
// points at the terms the package ships with, and is the one place to change.
constexpr const char* LicenceText =
    "free software from the Mirtolan developers, under the terms in the copyright file of its package; "
    "it comes with no warranty.";
} // namespace

QString LanguageReference(const QString& markdown) {
    auto listed = [](const QString& title, const auto& names) {
        for (const char* n : names)
            if (title == QLatin1String(n)) return true;
        return false;
    };
    QString out;
    bool inSection = false;    // inside a whole section that is shown
    bool inSubsection = false; // inside a subsection shown on its own
    QStringList lines = markdown.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast(); // the text's last line end
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("## "))) {
            inSection = listed(line.mid(3).trimmed(), ReferenceSections);
            inSubsection = false;
        } else if (line.startsWith(QLatin1String("### ")) && !inSection) {
            inSubsection = listed(line.mid(4).trimmed(), ReferenceSubsections);
        }
        if (inSection || inSubsection) out += line + QLatin1Char('\n');
    }
    return out;
}

namespace {
QString BuiltInText(const QString& resource) {
    QFile f(resource);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}
} // namespace

QString BuiltInReadme() { return BuiltInText(QStringLiteral(":/help/README.md")); }
QString BuiltInWordReference() { return BuiltInText(QStringLiteral(":/help/docs/words.md")); }

QString AboutText(const QString& version) {
    return QStringLiteral("<h3>Mirtolan %1</h3>"
                          "<p>A Forth cross compiler for AVR microcontrollers: it turns a Forth source "
                          "into an assembler listing for avra.</p>"
                          "<p>Licence: %2</p>")
        .arg(version.toHtmlEscaped(), QString::fromUtf8(LicenceText).toHtmlEscaped());
}

void ShowLanguageReference(QWidget* parent) {
    auto* dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("LanguageReference"));
    dialog->setWindowTitle(QStringLiteral("Language reference"));
    auto* browser = new QTextBrowser(dialog);
    QString text = LanguageReference(BuiltInReadme());
    // Every archive word with its stack effect follows the language.
    if (!text.isEmpty()) text += QLatin1Char('\n') + BuiltInWordReference();
    browser->setMarkdown(text.isEmpty() ? QStringLiteral("The reference was not built into this program.") : text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(browser);
    layout->addWidget(buttons);
    dialog->resize(ReferenceWidth, ReferenceHeight);
    dialog->show();
}

} // namespace mirtolan
