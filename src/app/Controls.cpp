#include "app/Controls.h"

#include <QEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QShortcut>
#include <QStringList>
#include <QTreeView>
#include <numeric>

namespace vellumcast::app {

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const QList<QKeySequence>& keys)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(true);
    QStringList names;
    for (const QKeySequence& key : keys) {
        auto* shortcut = new QShortcut(key, button);
        shortcut->setContext(Qt::WindowShortcut);
        // A disabled command stays disabled from the keyboard as well.
        QObject::connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isEnabled())
                button->click();
        });
        names << key.toString(QKeySequence::NativeText);
    }
    if (!names.isEmpty())
        button->setToolTip(names.join(", "));
    return button;
}

ColumnsFollowWidth::ColumnsFollowWidth(QTreeView* view)
    : QObject(view)
    , m_view(view)
    , m_viewport(view->viewport())
{
    view->header()->setStretchLastSection(false);
    m_viewport->installEventFilter(this);
}

void ColumnsFollowWidth::SetDesignWidths(std::vector<int> widths)
{
    m_widths = std::move(widths);
    Fit();
}

bool ColumnsFollowWidth::eventFilter(QObject* watched, QEvent* event)
{
    // Compared with the viewport kept at the start: while the view is being destroyed its
    // viewport still sends events, and asking the half-destroyed view for it is undefined.
    if (watched == m_viewport && event->type() == QEvent::Resize)
        Fit();
    return QObject::eventFilter(watched, event);
}

void ColumnsFollowWidth::Fit()
{
    const int design = std::accumulate(m_widths.begin(), m_widths.end(), 0);
    if (design <= 0)
        return;
    const int available = m_view->viewport()->width();
    // Each column ends where its share of the width ends, so the last one meets the edge.
    int start = 0;
    int designSoFar = 0;
    for (size_t i = 0; i < m_widths.size(); ++i) {
        designSoFar += m_widths[i];
        const int end = available > design ? static_cast<int>(static_cast<long long>(available) * designSoFar / design)
                                           : designSoFar;
        m_view->header()->resizeSection(static_cast<int>(i), end - start);
        start = end;
    }
}

bool RestoreGeometry(QWidget* window, options::SettingsStore& store, const options::SettingKey& key)
{
    const std::string stored = options::GetSetting(store, key);
    if (stored.empty())
        return false;
    return window->restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(stored)));
}

void SaveGeometry(QWidget* window, options::SettingsStore& store, const options::SettingKey& key)
{
    options::SaveSetting(store, key, window->saveGeometry().toBase64().toStdString());
}

} // namespace vellumcast::app
