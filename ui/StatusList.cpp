#include "ui/StatusList.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>

namespace bv {
namespace {

// Row heights that follow the wrapped text, so an error line is read whole.
class WrappingDelegate final : public QStyledItemDelegate {
public:
    explicit WrappingDelegate(QTreeView* view) : QStyledItemDelegate(view), m_view(view) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem o(option);
        initStyleOption(&o, index);
        const int iconAndMargins = o.decorationSize.width() + 12;
        const int width = std::max(40, m_view->columnWidth(index.column()) - iconAndMargins);
        const QRect text =
            QFontMetrics(o.font).boundingRect(QRect(0, 0, width, 10000), Qt::TextWordWrap, o.text);
        return {width + iconAndMargins, std::max(text.height(), o.decorationSize.height()) + 4};
    }

private:
    QTreeView* m_view;
};

} // namespace

StatusList::StatusList(QWidget* parent) : QTreeWidget(parent)
{
    setItemDelegate(new WrappingDelegate(this));
    setColumnCount(1);
    setHeaderLabels({QStringLiteral("Status")});
    setRootIsDecorated(false);
    // The error lines are long: they wrap rather than lose their end.
    setWordWrap(true);
    setTextElideMode(Qt::ElideNone);
    setSelectionMode(QAbstractItemView::NoSelection);
    setIconSize(QSize(16, 16));
    header()->setStretchLastSection(true);
    QScrollBar* bar = verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { m_followNewest = value == bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_followNewest)
            bar->setValue(maximum);
    });
}

QIcon StatusList::iconFor(int kind)
{
    QStyle* style = QApplication::style();
    switch (kind) {
    case status::kError: return style->standardIcon(QStyle::SP_MessageBoxCritical);
    case status::kWarning: return style->standardIcon(QStyle::SP_MessageBoxWarning);
    default: return style->standardIcon(QStyle::SP_MessageBoxInformation);
    }
}

void StatusList::AddErrorMessage(const std::string& text, int kind)
{
    m_lines.add(text, kind);
    if (m_lines.droppedOne() && topLevelItemCount() > 0)
        delete takeTopLevelItem(0);
    auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(text)});
    item->setIcon(0, iconFor(kind));
    item->setData(0, Qt::UserRole, kind);
    item->setToolTip(0, item->text(0));
    if (kind == status::kError)
        item->setForeground(0, QColor(170, 0, 0));
    addTopLevelItem(item);
    m_followNewest = true;
    scrollToBottom();
}

QString StatusList::lineText(int i) const
{
    const QTreeWidgetItem* item = topLevelItem(i);
    return item ? item->text(0) : QString();
}

int StatusList::lineKind(int i) const
{
    const QTreeWidgetItem* item = topLevelItem(i);
    return item ? item->data(0, Qt::UserRole).toInt() : -1;
}

} // namespace bv
