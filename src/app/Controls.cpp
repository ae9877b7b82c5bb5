#include "app/Controls.h"

#include <QPushButton>
#include <QShortcut>
#include <QStringList>

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

} // namespace vellumcast::app
