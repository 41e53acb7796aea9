// The widgets a QtForm is made of, where Qt's own do not behave as the
// program's windows must. Each holds the form's link and reports to the form
// while it exists.
#pragma once

#include <QColor>
#include <QLabel>
#include <QObject>
#include <QPoint>
#include <QRadioButton>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/qt/qt_form.h"

namespace vel::platform {

// The top-level window of a form: reports activation, the close box and
// Enter / Escape for the default and cancel buttons.
class FormWindow : public QWidget {
public:
    explicit FormWindow(FormLink link);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    FormLink link_;
};

// A label that reports clicks and mouse moves.
class ClickLabel : public QLabel {
public:
    ClickLabel(FormLink link, std::string name, QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    FormLink link_;
    std::string name_;
};

// Option buttons and check boxes react to a click anywhere in their area,
// not only on the mark and the caption.
template <typename Base>
class WholeAreaButton : public Base {
public:
    WholeAreaButton(const QString& caption, QWidget* parent) : Base(caption, parent) {}

protected:
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
};

// An option button. Qt makes whichever option last had the focus its group's
// Tab stop; here, as on Windows, the stop is the selected option.
class OptionWidget : public WholeAreaButton<QRadioButton> {
public:
    OptionWidget(FormLink link, const QString& caption, QWidget* parent);

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    FormLink link_;
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

// Typed characters in a text box go through OnKeyPress: unchanged they reach
// the box as usual; changed or dropped, the box gets what the handler left.
class KeyFilter : public QObject {
public:
    KeyFilter(FormLink link, std::string name, QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The characters of a key's text; false for control characters (Enter,
    // Tab, Escape) and empty texts, which are no typed characters.
    static bool Characters(const QString& text, std::vector<int>& codes);
    static void Apply(QObject* box, const std::vector<int>& codes);

    FormLink link_;
    std::string name_;
};

}  // namespace vel::platform
