#pragma once
// The models behind the two list views: the workbook list (one column, following the
// plain WorkbookList) and the results of a run (one row per result entry, columns by save
// mode). Both are thin: rows are read from the plain data on demand, so a million entries
// cost nothing until they are painted.

#include "export/ResultList.h"
#include "options/ExportOptions.h"
#include "worklist/WorkbookList.h"

#include <QAbstractTableModel>
#include <functional>
#include <vector>

namespace vellumcast::app {

// Twips to pixels: 15 twips to a pixel at 96 dpi.
constexpr int TwipsToPixels(int twips)
{
    return twips / 15;
}

class WorkbookListModel final : public QAbstractTableModel, private worklist::WorkbookListObserver {
    Q_OBJECT
public:
    explicit WorkbookListModel(worklist::WorkbookList& list, QObject* parent = nullptr);
    ~WorkbookListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void BeforeInsert(size_t position) override;
    void AfterInsert() override;
    void BeforeRemove(size_t position) override;
    void AfterRemove() override;
    void BeforeClear() override;
    void AfterClear() override;
    void TextChanged(size_t position) override;

    worklist::WorkbookList& m_list;
};

struct ResultColumn {
    QString caption;
    int widthTwips;
};

// The results list's columns for a save mode: "Preview" first, then "Sheet" and "Row" or
// "Column" where the mode has them.
std::vector<ResultColumn> ResultColumnsFor(options::SaveMode mode);

class ResultsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ResultsModel(const exporting::ResultList& results, QObject* parent = nullptr);

    void SetColumns(std::vector<ResultColumn> columns);
    const std::vector<ResultColumn>& Columns() const { return m_columns; }
    // Runs change, which may replace the results in any way, inside a reset of the model,
    // so views drop every row before the results change under them.
    void Reset(const std::function<void()>& change);
    // Shows every entry of the results, those past the rows shown so far as new rows.
    void Grow();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const exporting::ResultList& m_results;
    std::vector<ResultColumn> m_columns;
    size_t m_shown = 0;
};

} // namespace vellumcast::app
