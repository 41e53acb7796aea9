// frmVEL: the status window of a run, with its Go, Configure, About and
// Cancel buttons. Its handlers only set the run flags, save the settings or
// open the About box; the run reads the flags.
#pragma once

#include <memory>

#include "common/controls.h"
#include "platform/window_system.h"

namespace vel {

class App;

platform::FormSpec StatusWindowSpec();

class StatusWindow : public platform::FormEvents {
public:
    explicit StatusWindow(App& app);
    ~StatusWindow() override;

    platform::Form& Form() { return *form_; }

    void Show();   // modeless; the first activation starts the run
    void Close();  // never refused; saves the settings (also when never shown)
    void Refresh() { form_->Refresh(); }

    void OnActivate() override;
    void OnClose() override;

private:
    App& app_;
    std::unique_ptr<platform::Form> form_;

public:
    Label lblClockStatus{*form_, "lblClockStatus"};
    TextBox txtStatus{*form_, "txtStatus"};
    Button cmdGo{*form_, "cmdGo"};
    Button cmdConfigure{*form_, "cmdConfigure"};
    Button cmdAbout{*form_, "cmdAbout"};
    Button cmdCancel{*form_, "cmdCancel"};
};

// frmVEL: created on first use, shown only in a run with the window.
StatusWindow& frmVEL(App& app);

}  // namespace vel
