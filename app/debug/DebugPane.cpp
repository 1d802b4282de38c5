#include "DebugPane.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "Colours.h"

namespace mirtolan {

namespace {

// Item data: the source line a word of the chain leads to, and whether a value changed.
constexpr int LineRole = Qt::UserRole + 1;
constexpr int ChangedRole = Qt::UserRole + 2;
// Pixels of a table row beyond its text's height: a list of values, not a form.
constexpr int RowPadding = 6;

QString fromBytes(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

QTableWidget* table(const QStringList& headers)
{
    auto* t = new QTableWidget(0, int(headers.size()));
    t->setHorizontalHeaderLabels(headers);
    t->verticalHeader()->hide();
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + RowPadding);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

QWidget* titled(const QString& title, QWidget* body)
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(new QLabel(title));
    layout->addWidget(body, 1);
    return box;
}

struct StopReasonText {
    StopKind kind;     // why the program stopped
    const char* label; // what the pane calls it
};
constexpr StopReasonText StopReasons[] = {
    {StopKind::Entry, QT_TRANSLATE_NOOP("DebugPane", "At the start")},
    {StopKind::Breakpoint, QT_TRANSLATE_NOOP("DebugPane", "Breakpoint")},
    {StopKind::Step, QT_TRANSLATE_NOOP("DebugPane", "Step")},
    {StopKind::Pause, QT_TRANSLATE_NOOP("DebugPane", "Paused")},
    {StopKind::Exception, QT_TRANSLATE_NOOP("DebugPane", "Fault")},
};

} // namespace

QString StopText(const DebugStop& stop)
{
    if (stop.kind == StopKind::Exception)
        return DebugPane::tr("Fault: ") + fromBytes(stop.text);
    QString reason;
    for (const StopReasonText& r : StopReasons)
        if (r.kind == stop.kind)
            reason = DebugPane::tr(r.label);
    if (stop.frames.empty())
        return reason;
    const Frame& here = stop.frames.front();
    QString where = fromBytes(here.name);
    if (here.line > 0)
        where += DebugPane::tr(", line %1").arg(here.line);
    else if (stop.line > 0)
        where += DebugPane::tr(" (an archive word), called at line %1").arg(stop.line);
    return reason + ": " + where;
}

DebugPane::DebugPane(QWidget* parent) : QWidget(parent)
{
    status_ = new QLabel(tr("Start debugging (Shift+F9) to stop the program at its breakpoints."));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack_ = table({tr("Cell"), tr("Value")});
    stack_->setToolTip(tr("The data stack, bottom first, then the loop stack (DO loops, >R), top first"));
    variables_ = table({tr("Name"), tr("Value")});
    variables_->setToolTip(tr("The variables and the I/O registers the program wrote; values changed since the "
                              "last stop are marked"));
    chain_ = new QListWidget;
    chain_->setSelectionMode(QAbstractItemView::ExtendedSelection); // so Select All and Copy take the whole chain
    chain_->setToolTip(tr("The words that led here, innermost first; double-click or Enter goes to the line"));
    connect(chain_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (const int line = item->data(LineRole).toInt(); line > 0)
            emit gotoLine(line);
    });
    chain_->installEventFilter(this);

    auto* split = new QSplitter(Qt::Horizontal);
    split->addWidget(titled(tr("Stack"), stack_));
    split->addWidget(titled(tr("Variables"), variables_));
    split->addWidget(titled(tr("Call chain"), chain_));
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    split->setStretchFactor(2, 2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(status_);
    layout->addWidget(split, 1);
}

void DebugPane::reset()
{
    previous_.clear();
    stack_->setRowCount(0);
    variables_->setRowCount(0);
    chain_->clear();
}

void DebugPane::showStatus(const QString& text, bool fault)
{
    status_->setText(text);
    QPalette p = status_->palette();
    p.setColor(QPalette::WindowText, fault ? ColoursFor(palette()).fault : palette().color(QPalette::WindowText));
    status_->setPalette(p);
}

void DebugPane::showStop(const DebugStop& stop)
{
    showStatus(StopText(stop), stop.kind == StopKind::Exception);
    showValues(stop);
    chain_->clear();
    for (const Frame& f : stop.frames) {
        QString text = fromBytes(f.name);
        if (f.line > 0)
            text += tr("  (line %1)").arg(f.line);
        if (f.interrupted)
            text += tr("  interrupted here");
        auto* item = new QListWidgetItem(text, chain_);
        item->setData(LineRole, qlonglong(f.line));
    }
    if (chain_->count() > 0)
        chain_->setCurrentRow(0);
}

void DebugPane::showEnd(const QString& text, const DebugStop& last)
{
    showStatus(text);
    chain_->clear();
    if (!last.variables.empty() || !last.dataStack.empty() || !last.registers.empty())
        showValues(last);
}

void DebugPane::showValues(const DebugStop& stop)
{
    stack_->setRowCount(0);
    const auto addCell = [this](const QString& name, const Shown& s) {
        const int row = stack_->rowCount();
        stack_->insertRow(row);
        stack_->setItem(row, 0, new QTableWidgetItem(name));
        auto* value = new QTableWidgetItem(fromBytes(s.value));
        value->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        stack_->setItem(row, 1, value);
    };
    for (const Shown& s : stop.dataStack)
        addCell(tr("data ") + fromBytes(s.name), s);
    for (const Shown& s : stop.loopStack)
        addCell(tr("loop ") + fromBytes(s.name), s);

    const EditorColours colours = ColoursFor(palette());
    std::map<std::string, std::string> now;
    variables_->setRowCount(0);
    const auto addValue = [&](const Shown& s, bool reg) {
        const int row = variables_->rowCount();
        variables_->insertRow(row);
        auto* name = new QTableWidgetItem(fromBytes(s.name));
        auto* value = new QTableWidgetItem(fromBytes(s.value));
        if (reg) {
            QFont italic = name->font();
            italic.setItalic(true);
            name->setFont(italic);
            name->setToolTip(tr("an I/O register the program wrote"));
        }
        const auto before = previous_.find(s.name);
        const bool changed = before != previous_.end() && before->second != s.value;
        for (QTableWidgetItem* item : {name, value}) {
            item->setData(ChangedRole, changed);
            if (changed) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
                item->setBackground(colours.match);
                item->setToolTip(tr("changed since the last stop (was %1)").arg(fromBytes(before->second)));
            }
        }
        variables_->setItem(row, 0, name);
        variables_->setItem(row, 1, value);
        now[s.name] = s.value;
    };
    for (const Shown& s : stop.variables)
        addValue(s, false);
    for (const Shown& s : stop.registers)
        addValue(s, true);
    previous_ = std::move(now);
    for (QTableWidget* t : {stack_, variables_})
        t->resizeColumnToContents(0);
}

bool DebugPane::markedChanged(const QString& name) const
{
    for (int row = 0; row < variables_->rowCount(); ++row)
        if (variables_->item(row, 0)->text() == name)
            return variables_->item(row, 0)->data(ChangedRole).toBool();
    return false;
}

bool DebugPane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == chain_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && chain_->currentItem()) {
            if (const int line = chain_->currentItem()->data(LineRole).toInt(); line > 0)
                emit gotoLine(line);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace mirtolan
