// A form's native window on Qt 6 Widgets: a top-level QWidget with one child
// widget per control, placed at twips / 15 device-independent pixels in the
// layouts' small font.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "platform/form.h"
#include "platform/window_system.h"

namespace vel::platform {

class QtWindow;
class QtWindowSystem;

// What the widgets, timers and connections hold of their window: it while it
// exists, null from its destructor on (its widgets go later, when Qt's event
// loop is back where it can delete them).
using WindowLink = std::shared_ptr<QtWindow*>;

class QtWindow : public NativeWindow {
public:
    QtWindow(QtWindowSystem& system, Form& form);
    ~QtWindow() override;

    void Show(bool modal, NativeWindow* owner) override;
    void Hide() override;
    void Activate() override;
    void SetTitle(const std::string& title) override;
    void Repaint(int control) override;
    void Update(int control, const ControlState& state, ControlChange what) override;
    std::string Text(int control) const override;
    void SetFocus(int control, bool byKey) override;

    const FormSpec& Spec() const { return spec_; }
    // The real widgets, for tests (a line has none: the window paints it).
    QWidget* Window() const { return window_; }
    QWidget* Widget(const std::string& control) const;

    // Qt moves the focus by itself while the window changes a widget (a
    // focused one disabled): the form moves it instead.
    bool ChangingWidgets() const { return changing_; }
    // The window moved or was exposed: once the window manager's frame is
    // known after a show, the frame is centred, and checked again after each
    // move until it is (a move made while the window was being framed can
    // land the client where the frame should be).
    void FrameMayHaveChanged();

private:
    QWidget* CreateWidget(int control);
    bool Centre();  // whether the window had to move

    QtWindowSystem& system_;
    const FormSpec spec_;  // the form's, which may go first
    WindowLink link_;
    QPointer<QWidget> window_;
    std::vector<QWidget*> widgets_;  // by control
    int centringMoves_ = 0;          // moves left to centre the framed window
    bool changing_ = false;
};

}  // namespace vel::platform
