// A window on Qt 6 Widgets: any FormSpec becomes a top-level QWidget with one
// child widget per control, placed at twips / 15 device-independent pixels.
#pragma once

#include <QCursor>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/window_system.h"

namespace vel::platform {

class QtForm;
class QtWindowSystem;

// What the form's widgets, timers and connections hold of it: the form while
// it exists, null from its destructor on. Code that runs a handler checks it
// again afterwards, since a handler may destroy its own window.
using FormLink = std::shared_ptr<QtForm*>;

// Twips to device-independent pixels, rounded to the nearest pixel.
int TwipsToPixels(int twips);

class QtForm : public Form {
public:
    QtForm(QtWindowSystem& system, FormSpec spec);
    ~QtForm() override;
    QtForm(const QtForm&) = delete;
    QtForm& operator=(const QtForm&) = delete;

    // Form
    const FormSpec& Spec() const override { return spec_; }
    void SetHandler(FormEvents* handler) override { handler_ = handler; }
    void Show() override;
    void ShowModal() override;
    void Close() override;
    bool IsVisible() const override { return visible_; }
    void SetTitle(const std::string& title) override;
    std::string Title() const override;
    void Refresh(const std::string& control = {}) override;
    void SetText(const std::string& control, const std::string& text) override;
    std::string Text(const std::string& control) const override;
    void SetEnabled(const std::string& control, bool enabled) override;
    bool IsEnabled(const std::string& control) const override;
    void SetChecked(const std::string& control, bool checked) override;
    bool IsChecked(const std::string& control) const override;
    void ClearItems(const std::string& control) override;
    void AddItem(const std::string& control, const std::string& item) override;
    int ItemCount(const std::string& control) const override;
    std::string ItemText(const std::string& control, int index) const override;
    void SetSelectedIndex(const std::string& control, int index) override;
    int SelectedIndex(const std::string& control) const override;
    void SetForeColour(const std::string& control, Colour colour) override;
    Colour ForeColour(const std::string& control) const override;
    void SetUnderline(const std::string& control, bool underline) override;
    bool IsUnderlined(const std::string& control) const override;
    void SetControlCursor(const std::string& control, const CursorImage& cursor) override;
    void SetFocus(const std::string& control) override;
    std::string FocusedControl() const override;

    // The real widgets, for the window system and for tests.
    QWidget* Window() const { return window_; }
    QWidget* Widget(const std::string& control) const;
    // The control's own pointer; null when it has none.
    const QCursor* ControlCursor(const std::string& control) const;

    // Called by the form's widgets when the user acts. Each runs the handler,
    // then wakes the pump so that a wait in progress returns.
    void DeliverActivation();
    void DeliverDeactivation() { active_ = false; }
    void DeliverCloseBox();
    void DeliverClick(const std::string& control);
    void DeliverMouseMove(const std::string& control);
    // The typed characters (Unicode code points) after OnKeyPress: each
    // becomes the code the handler left (0: dropped).
    std::vector<int> DeliverKeyPresses(const std::string& control, const std::vector<int>& codes);
    void DeliverSelection() { WakePump(); }
    // The user pressed Enter or Escape in the window.
    bool PressDefaultButton(bool cancel);

    // Makes the window the active one; where the window system reports no
    // activation (a bare X server), the request counts as one.
    void RequestActivation();

    // The window moved or was exposed: once the window manager's frame is
    // known after a show, the frame is centred.
    void FrameMayHaveChanged();
    // Gives the option group in `container` its one Tab stop.
    void UpdateOptionTabStop(QWidget* container);

private:
    friend class QtWindowSystem;

    struct ControlState {
        const ControlSpec* spec = nullptr;
        QWidget* widget = nullptr;
        std::unique_ptr<QCursor> cursor;
        std::string caption;        // pictures and lines: the text as set
        std::string multiLineText;  // multi-line text box: the text as set ...
        QString multiLineShown;     // ... and as the box showed it then
    };

    void Build();
    QWidget* CreateWidget(const ControlSpec& control, QWidget* parent);
    void SetUpTabOrder();
    void UpdateLabelBuddy(const std::string& label);
    void Centre();
    void FocusFirstControl();
    ControlState& At(const std::string& control);
    const ControlState& At(const std::string& control) const;
    void WakePump();
    template <typename Call>
    void Dispatch(Call call);

    QtWindowSystem& system_;
    FormSpec spec_;
    QPointer<QWidget> window_;
    std::map<std::string, ControlState> controls_;
    std::vector<std::string> tabOrder_;  // focusable controls by tab index
    FormEvents* handler_ = nullptr;
    bool loaded_ = true;
    bool visible_ = false;
    bool active_ = false;
    bool centring_ = false;  // shown, the frame not yet known
    int dispatching_ = 0;
    std::string focus_;  // the focus asked for while the window was hidden
    FormLink link_;
};

}  // namespace vel::platform
