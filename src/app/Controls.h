#pragma once
// Push buttons with an object name, a caption and keyboard shortcuts that leave the
// caption as it is.

#include <QKeySequence>
#include <QList>

class QPushButton;
class QWidget;

namespace vellumcast::app {

// A push button that Enter clicks while it has the focus. Each of keys clicks it from
// anywhere in its window, only while it is enabled; the tool tip names the keys.
QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const QList<QKeySequence>& keys = {});

} // namespace vellumcast::app
