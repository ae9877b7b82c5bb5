#include "app/LookAndFeel.h"

#include "app/Controls.h"
#include "core/Files.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QWidget>
#include <stdexcept>

namespace vellumcast::app {

int CheckValue(Qt::CheckState state)
{
    switch (state) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

Qt::CheckState CheckStateFor(int value)
{
    return value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked;
}

std::string ProgramDataPath(const std::string& programFolder, const std::string& name)
{
    const auto present = [](const std::string& path) { return core::FileExists(path) || core::FolderExists(path); };
    const std::string beside = programFolder + "/" + name;
    if (present(beside))
        return beside;
    // Clean, so the paths read PREFIX/share/…, not PREFIX/bin/../share/….
    const std::string installed
        = QDir::cleanPath(QString::fromStdString(programFolder + "/../share/vellumcast/" + name)).toStdString();
    return present(installed) ? installed : beside;
}

QIcon AppIcon()
{
    // The installed theme's icon fits the desktop's sizes; the bundled one serves a build
    // that was never installed.
    return QIcon::fromTheme("vellumcast", QIcon(":/vellumcast/vellumcast.png"));
}

QCursor LoadCursorFile(const QString& path)
{
    const QPixmap picture(path);
    if (picture.isNull())
        throw std::runtime_error("Invalid picture: " + path.toStdString());
    return QCursor(picture, 0, 0);
}

void CenterOnScreen(QWidget* window)
{
    FitToScreen(window);
    QScreen* screen = QGuiApplication::screenAt(window->frameGeometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The area left free by panels and docks, so no part of the window opens under them.
    const QRect area = screen->availableGeometry();
    const QSize size = window->frameGeometry().size();
    window->move(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
}

void SetPlainColours(QWidget* window)
{
    const QColor face = window->palette().color(QPalette::Button);
    const auto paint = [&](QWidget* widget) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, face);
        widget->setPalette(palette);
        widget->setAutoFillBackground(true);
    };
    paint(window);
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) || qobject_cast<QGroupBox*>(child)
            || qobject_cast<QLabel*>(child))
            paint(child);
    }
}

} // namespace vellumcast::app
