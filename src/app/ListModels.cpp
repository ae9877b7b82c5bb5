#include "app/ListModels.h"

#include <algorithm>
#include <limits>

namespace vellumcast::app {

namespace {

int ClampedRows(size_t count)
{
    return count > static_cast<size_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                        : static_cast<int>(count);
}

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

WorkbookListModel::WorkbookListModel(worklist::WorkbookList& list, QObject* parent)
    : QAbstractTableModel(parent)
    , m_list(list)
{
    m_list.SetObserver(this);
}

WorkbookListModel::~WorkbookListModel()
{
    m_list.SetObserver(nullptr);
}

int WorkbookListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ClampedRows(m_list.Count());
}

int WorkbookListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant WorkbookListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || static_cast<size_t>(index.row()) >= m_list.Count())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return QString::fromStdString(m_list.Text(static_cast<size_t>(index.row())));
    return {};
}

QVariant WorkbookListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return QStringLiteral("Excel File(s)");
    return {};
}

void WorkbookListModel::BeforeInsert(size_t position)
{
    const int row = ClampedRows(position);
    beginInsertRows({}, row, row);
}

void WorkbookListModel::AfterInsert()
{
    endInsertRows();
}

void WorkbookListModel::BeforeRemove(size_t position)
{
    const int row = ClampedRows(position);
    beginRemoveRows({}, row, row);
}

void WorkbookListModel::AfterRemove()
{
    endRemoveRows();
}

void WorkbookListModel::BeforeClear()
{
    beginResetModel();
}

void WorkbookListModel::AfterClear()
{
    endResetModel();
}

void WorkbookListModel::TextChanged(size_t position)
{
    const QModelIndex changed = index(ClampedRows(position), 0);
    emit dataChanged(changed, changed);
}

std::vector<ResultColumn> ResultColumnsFor(options::SaveMode mode)
{
    switch (mode) {
    case options::SaveMode::AllSheets:
        return { { "Preview", 7000 } };
    case options::SaveMode::EachSheet:
        return { { "Preview", 6000 }, { "Sheet", 1500 } };
    case options::SaveMode::EachRow:
        return { { "Preview", 4500 }, { "Sheet", 1500 }, { "Row", 1200 } };
    case options::SaveMode::EachColumn:
        return { { "Preview", 4500 }, { "Sheet", 1500 }, { "Column", 1200 } };
    }
    return { { "Preview", 7000 } };
}

ResultsModel::ResultsModel(const exporting::ResultList& results, QObject* parent)
    : QAbstractTableModel(parent)
    , m_results(results)
{
}

void ResultsModel::SetColumns(std::vector<ResultColumn> columns)
{
    beginResetModel();
    m_columns = std::move(columns);
    m_shown = std::min(m_shown, m_results.size());
    endResetModel();
}

void ResultsModel::Reset(const std::function<void()>& change)
{
    beginResetModel();
    if (change)
        change();
    m_shown = std::min(m_results.size(), static_cast<size_t>(std::numeric_limits<int>::max()));
    endResetModel();
}

void ResultsModel::Grow()
{
    const size_t target = std::min(m_results.size(), static_cast<size_t>(std::numeric_limits<int>::max()));
    if (target < m_shown) {
        beginResetModel();
        m_shown = target;
        endResetModel();
        return;
    }
    if (target == m_shown)
        return;
    beginInsertRows({}, static_cast<int>(m_shown), static_cast<int>(target - 1));
    m_shown = target;
    endInsertRows();
}

int ResultsModel::rowCount(const QModelIndex& parent) const
{
    // The rows the views were told of, never the list's size of the moment.
    return parent.isValid() ? 0 : static_cast<int>(m_shown);
}

int ResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const
{
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() || index.row() < 0)
        return {};
    const auto row = static_cast<size_t>(index.row());
    if (row >= m_shown || row >= m_results.size())
        return {};
    const auto& entry = m_results[row];
    if (role == Qt::ToolTipRole) {
        if (!entry.cutShort)
            return {};
        return QStringLiteral("Cut short: its workbook failed while it was read. A save never writes this text "
                              "over a file.");
    }
    switch (index.column()) {
    case 0:
        // A text cut short is marked where it is named, so it is never taken for a whole one.
        return entry.cutShort ? FromUtf8(entry.fileName) + QStringLiteral(" (cut short)") : FromUtf8(entry.fileName);
    case 1:
        return FromUtf8(entry.sheetName);
    case 2:
        return entry.ordinal > 0 ? QString::number(entry.ordinal) : QString();
    default:
        return {};
    }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || static_cast<size_t>(section) >= m_columns.size())
        return {};
    return m_columns[static_cast<size_t>(section)].caption;
}

} // namespace vellumcast::app
