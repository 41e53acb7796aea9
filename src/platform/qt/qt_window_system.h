// The window system on Qt 6 Widgets: the native windows of the forms,
// message boxes and the program-wide mouse pointer.
#pragma once

#include <QMargins>
#include <memory>
#include <string>

#include "platform/qt/qt_window.h"
#include "platform/window_system.h"

namespace vel::platform {

class QtWindowSystem : public WindowSystem {
public:
    // Needs a QApplication. `seen`: a person looks at its display (false on
    // the offscreen and minimal platforms): boxes are shown only then.
    explicit QtWindowSystem(EventPump& pump, bool seen = true);
    ~QtWindowSystem() override;

    // The native window of the form of that name created last; null when none.
    QtWindow* Window(const std::string& form) const { return NativeOf<QtWindow>(form); }

protected:
    std::unique_ptr<NativeWindow> NewWindow(Form& form) override { return std::make_unique<QtWindow>(*this, form); }
    MessageResult NativeMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                   MessageIcon icon, NativeWindow* owner) override;
    void NativePointer(PointerShape shape, const CursorImage* custom) override;
    void NativeBringToFront(NativeWindow& front) override;

private:
    friend class QtWindow;

    QMargins frameMargins_;  // of the last window the window manager framed
    bool overridden_ = false;
};

}  // namespace vel::platform
