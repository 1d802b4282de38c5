// The names a source defines, for completion, kept up to date line by line
// as the text changes: an edit looks at the lines it touched, a newly loaded
// text is read in slices between the window's other work, and completion
// only reads the index. Ctrl+Space in a source of megabytes answers at once.
#pragma once

#include <QObject>
#include <QStringList>

#include <map>
#include <memory>

class QTextDocument;
class QTimer;

namespace mirtolan {

// Names in completion order: without regard to case, and names that differ
// only in case in a fixed order.
struct CaselessOrder {
    bool operator()(const QString& a, const QString& b) const {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    }
};

class WordIndex : public QObject {
    Q_OBJECT
public:
    explicit WordIndex(QTextDocument* document);
    ~WordIndex() override;

    // The defined names in CaselessOrder, each once.
    QStringList words() const;
    // Whether every line has been read since the text was last loaded.
    bool complete() const;
    // Reads the lines not read yet now (for tests and benchmarks).
    void finish();

    // How many names each line defines, counted over the whole text; shared
    // with the lines, which take theirs back when they go.
    using Counts = std::map<QString, int, CaselessOrder>;

private:
    void changed(int position, int removed, int added);
    // Reads up to `budget` lines not read yet; false when none are left.
    bool readSome(int budget);

    QTextDocument* document_;
    std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
    QTimer* idle_;      // reads the next slice of lines when the window has nothing else to do
    int nextBlock_ = 0; // no line before it is unread
};

} // namespace mirtolan
