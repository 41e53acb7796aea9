// The widgets of a QtWindow where Qt's own do not behave as the program's
// windows must, and the filter that turns a control's events into the form's.
#pragma once

#include <QColor>
#include <QObject>
#include <QPoint>
#include <QWidget>
#include <vector>

#include "platform/qt/qt_window.h"

namespace vel::platform {

// The top-level window: reports activation, the close box, and leaves Tab,
// Enter and Escape to the form.
class FormWindow : public QWidget {
public:
    explicit FormWindow(WindowLink link);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    WindowLink link_;
};

// Option buttons and check boxes react to a click anywhere in their area,
// not only on the mark and the caption, and never change their own state:
// the form sets it (an option group's exclusivity is the form's).
template <typename Base>
class FormButton : public Base {
public:
    FormButton(const QString& caption, QWidget* parent) : Base(caption, parent) {}

protected:
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
    void nextCheckState() override {}
};

// A line of the window's drawing. A line `width` pixels wide covers that
// many pixel rows (columns for an upright line) from its position down (right).
class LineWidget : public QWidget {
public:
    LineWidget(QWidget* parent, QPoint from, QPoint to, QColor colour, int width);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_;
    int width_;
    QPoint from_, to_;
};

// A control's events for the form: the focus coming in; a label's clicks and
// mouse moves; the arrows on an option button; the characters typed into a
// text box, which go through the form's key handling: unchanged they reach
// the box as usual; changed or dropped, the box gets what the handler left.
class ControlEvents : public QObject {
public:
    ControlEvents(WindowLink link, int control, ControlKind kind, QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool TypedCharacters(QObject* box, QEvent* event);
    // The characters of a key's text; false for control characters (Enter,
    // Tab, Escape) and empty texts, which are no typed characters.
    static bool Characters(const QString& text, std::vector<int>& codes);
    static void Apply(QObject* box, const std::vector<int>& codes);

    WindowLink link_;
    int control_;
    ControlKind kind_;
};

}  // namespace vel::platform
