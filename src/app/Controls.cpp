#include "app/Controls.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QDataStream>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStringList>
#include <QStyle>
#include <QStyleOption>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
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
    const std::string stored = options::UsableSetting(store, key);
    if (stored.empty() || !window->restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(stored))))
        return false;
    // A geometry saved on a larger screen, or edited by hand, would open the window out of
    // reach; Qt moves a window back onto a screen but keeps its size.
    FitToScreen(window);
    return true;
}

void SaveGeometry(QWidget* window, options::SettingsStore& store, const options::SettingKey& key)
{
    options::SaveSetting(store, key, window->saveGeometry().toBase64().toStdString());
}

std::string WindowGeometryProblem(const options::SettingKey& key, std::string_view stored)
{
    if (key.kind != options::SettingKind::Geometry || stored.empty())
        return {};
    // Qt's geometry starts with its magic number and a format version. Whether Qt restores
    // it is no test: it refuses a geometry saved on a far wider screen, which is no fault
    // of the setting (the window then opens at its first-start place).
    const QByteArray geometry
        = QByteArray::fromBase64(QByteArray(stored.data(), static_cast<qsizetype>(stored.size())));
    constexpr quint32 kGeometryMagic = 0x1D9D0CB;
    QDataStream stream(geometry);
    stream.setVersion(QDataStream::Qt_4_0);
    quint32 magic = 0;
    quint16 major = 0;
    stream >> magic >> major;
    const bool geometryOfQt = stream.status() == QDataStream::Ok && magic == kGeometryMagic && major >= 1;
    return geometryOfQt ? std::string() : "which is no window size and place";
}

void FitToScreen(QWidget* window)
{
    const auto fit = [window] {
        const QRect frame = window->frameGeometry();
        QScreen* screen = QGuiApplication::screenAt(frame.center());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const QRect area = screen->availableGeometry();
        const QRect inner = window->geometry();
        const QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom());
        const QSize size = window->size().boundedTo(area.size().shrunkBy(margins)).expandedTo(QSize(1, 1));
        if (size != window->size())
            window->resize(size);
        const QSize outer = size.grownBy(margins);
        const int x = std::max(area.left(), std::min(frame.left(), area.left() + area.width() - outer.width()));
        const int y = std::max(area.top(), std::min(frame.top(), area.top() + area.height() - outer.height()));
        if (QPoint(x, y) != frame.topLeft())
            window->move(x, y);
    };
    fit();
    // The frame the window system puts around the window is known once the window exists
    // (a window manager's, on X11, once it is mapped); fitted again with it.
    if (!window->testAttribute(Qt::WA_WState_Created)) {
        (void)window->winId(); // makes the native window of this top-level window
        fit();
    }
}

namespace {

// A scroll area that asks for its page's whole size; QScrollArea caps its wish at a few
// dozen lines of text, which would open the windows smaller than their controls.
class PageScrollArea final : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override
    {
        const int frame = 2 * frameWidth();
        return (widget() ? widget()->sizeHint() : QSize()) + QSize(frame, frame);
    }
};

} // namespace

QWidget* ScrollingPage(QWidget* window)
{
    auto* area = new PageScrollArea(window);
    area->setObjectName("Page");
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setFocusPolicy(Qt::NoFocus); // the controls on the page take the focus, not the page
    auto* page = new QWidget(area);
    // The page's layout keeps the margins a window's own layout would have (a style gives
    // windows wider ones than the widgets inside them), so the window looks as before.
    QStyleOption windowOption;
    windowOption.initFrom(window);
    QStyleOption pageOption;
    pageOption.initFrom(page);
    const auto extra = [&](QStyle::PixelMetric metric) {
        return std::max(0,
            window->style()->pixelMetric(metric, &windowOption, window)
                - page->style()->pixelMetric(metric, &pageOption, page));
    };
    page->setContentsMargins(extra(QStyle::PM_LayoutLeftMargin), extra(QStyle::PM_LayoutTopMargin),
        extra(QStyle::PM_LayoutRightMargin), extra(QStyle::PM_LayoutBottomMargin));
    area->setWidget(page);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    return page;
}

NamedComboBox::NamedComboBox(QWidget* parent)
    : QComboBox(parent)
{
    InstallAccessibleInterfaces();
    // The current item is the selected one of the list, closed too, which is how a screen
    // reader finds the value of a drop-down list read by its name.
    connect(this, &QComboBox::currentIndexChanged, this,
        [this](int index) { view()->setCurrentIndex(model()->index(index, modelColumn(), rootModelIndex())); });
}

namespace {

// A drop-down list named by its accessible name, its value the current item; the list of
// items is its one child, and its action opens or closes that list.
class NamedComboBoxAccessible final : public QAccessibleWidget {
public:
    explicit NamedComboBoxAccessible(QWidget* box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }
    QComboBox* Box() const { return static_cast<QComboBox*>(widget()); }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        if (index != 0)
            return nullptr;
        // A current item set while the box's signals were blocked (a restore) is selected now.
        QComboBox* box = Box();
        const QModelIndex current = box->model()->index(box->currentIndex(), box->modelColumn(), box->rootModelIndex());
        if (box->view()->currentIndex() != current)
            box->view()->setCurrentIndex(current);
        return QAccessible::queryAccessibleInterface(box->view());
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == Box()->view() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? Box()->currentText() : QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override { return { showMenuAction(), pressAction() }; }
    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction())
            return;
        if (Box()->view()->isVisible())
            Box()->hidePopup();
        else
            Box()->showPopup();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* AccessibleFactory(const QString& className, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    if (className == QLatin1String(NamedComboBox::staticMetaObject.className()))
        return new NamedComboBoxAccessible(widget);
    // The program's own windows (not its message boxes, which Qt reads as dialogs).
    if (widget->isWindow() && className.startsWith(QLatin1String("vellumcast::app::")))
        return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}

} // namespace

void InstallAccessibleInterfaces()
{
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(AccessibleFactory);
    installed = true;
}

} // namespace vellumcast::app
