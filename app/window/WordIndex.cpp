#include "WordIndex.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include "ForthWords.h"

namespace mirtolan {

namespace {

// Lines read in one slice: about a millisecond's work, so typing never waits.
constexpr int LinesPerSlice = 2000;

// What one line defines, counted into the whole text's index while the line lives.
class LineNames : public QTextBlockUserData {
public:
    LineNames(std::vector<QString> names, std::shared_ptr<WordIndex::Counts> counts)
        : names_(std::move(names)), counts_(std::move(counts)) {
        for (const QString& n : names_) ++(*counts_)[n];
    }
    ~LineNames() override {
        for (const QString& n : names_)
            if (auto it = counts_->find(n); it != counts_->end() && --it->second == 0) counts_->erase(it);
    }

private:
    std::vector<QString> names_;                 // the names this line defines
    std::shared_ptr<WordIndex::Counts> counts_; // outlives the index: the document deletes its lines last
};

void ReadLine(QTextBlock block, const std::shared_ptr<WordIndex::Counts>& counts) {
    // Replacing the line's data takes its old names out of the counts.
    block.setUserData(new LineNames(DefinedWords({block.text()}), counts));
}

} // namespace

WordIndex::WordIndex(QTextDocument* document) : QObject(document), document_(document), idle_(new QTimer(this)) {
    idle_->setInterval(0);
    connect(idle_, &QTimer::timeout, this, [this] {
        if (!readSome(LinesPerSlice)) idle_->stop();
    });
    connect(document, &QTextDocument::contentsChange, this, &WordIndex::changed);
    changed(0, 0, document->characterCount());
}

WordIndex::~WordIndex() = default;

void WordIndex::changed(int position, int /*removed*/, int added) {
    const QTextBlock first = document_->findBlock(position);
    const QTextBlock last = document_->findBlock(position + added);
    if (added > LinesPerSlice) {
        // A new text, or a large paste: its new lines are read in slices.
        // The lines it began and ended in were there before, with names of
        // their old text: those are read at once.
        ReadLine(first, counts_);
        if (last.isValid()) ReadLine(last, counts_);
        nextBlock_ = qMin(nextBlock_, first.blockNumber());
        idle_->start();
        return;
    }
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        ReadLine(b, counts_);
        if (b == last) break;
    }
}

bool WordIndex::readSome(int budget) {
    QTextBlock b = document_->findBlockByNumber(nextBlock_);
    for (; b.isValid() && budget > 0; b = b.next(), ++nextBlock_) {
        if (b.userData()) continue; // read since the text came, by an edit
        ReadLine(b, counts_);
        --budget;
    }
    return b.isValid();
}

bool WordIndex::complete() const { return !idle_->isActive(); }

void WordIndex::finish() {
    while (readSome(LinesPerSlice)) {
    }
    idle_->stop();
}

QStringList WordIndex::words() const {
    QStringList out;
    out.reserve(qsizetype(counts_->size()));
    for (const auto& [name, count] : *counts_) out << name;
    return out;
}

} // namespace mirtolan
