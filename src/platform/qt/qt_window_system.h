// The window system on Qt 6 Widgets: the forms, message boxes and the
// program-wide mouse pointer.
#pragma once

#include <QMargins>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_pump.h"
#include "platform/qt/qt_form.h"
#include "platform/window_system.h"

namespace vel::platform {

class QtWindowSystem : public WindowSystem {
public:
    // Needs a QApplication. `seen`: a person looks at its display (false on
    // the offscreen and minimal platforms): boxes are shown only then.
    explicit QtWindowSystem(EventPump& pump, bool seen = true);
    ~QtWindowSystem() override;

    bool IsInteractive() const override { return seen_; }
    std::unique_ptr<Form> CreateForm(const FormSpec& spec) override;
    MessageResult ShowMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                 MessageIcon icon) override;
    void SetPointer(PointerShape shape, const Form* form = nullptr, const std::string& control = {}) override;
    PointerShape Pointer() const override { return pointer_; }
    void BringToFront() override;

    EventPump& Pump() { return pump_; }

    // The open window of that name created last; null when none.
    QtForm* FindForm(const std::string& name) const;

private:
    friend class QtForm;
    void Activated(QtForm* form);
    void Reactivate(const QtForm* closing);

    EventPump& pump_;
    bool seen_;
    std::vector<QtForm*> forms_;
    QMargins frameMargins_;  // of the last window the window manager framed
    PointerShape pointer_ = PointerShape::Default;
    bool overridden_ = false;
};

}  // namespace vel::platform
