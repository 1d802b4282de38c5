#include "HelpText.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <array>

namespace mirtolan {

namespace {
// The README's top-level sections that the reference shows.
constexpr std::array<const char*, 2> ReferenceSections = {"The language", "Adding words to the archive"};
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
    QString out;
    bool keep = false;
    for (const QString& line : markdown.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("## "))) {
            const QString title = line.mid(3).trimmed();
            keep = false;
            for (const char* s : ReferenceSections)
                if (title == QLatin1String(s)) keep = true;
        }
        if (keep) out += line + QLatin1Char('\n');
    }
    return out;
}

QString BuiltInReadme() {
    QFile f(QStringLiteral(":/help/README.md"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

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
    const QString text = LanguageReference(BuiltInReadme());
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
