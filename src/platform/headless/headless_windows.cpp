#include "platform/headless/headless_windows.h"

namespace vel::platform {

HeadlessWindow::HeadlessWindow(Form& form) : NativeWindow(form)
{
    for (std::size_t i = 0; i < form.Spec().controls.size(); ++i)
        if (form.Spec().controls[i].kind == ControlKind::TextBox)
            texts[static_cast<int>(i)] = form.Spec().controls[i].caption;
}

bool HeadlessForm::Click(const std::string& control)
{
    const int i = IndexOf(control);
    if (!Takes(i))
        return false;
    NativeFocus(i);
    return NativeClick(i);
}

bool HeadlessForm::Type(const std::string& control, const std::string& characters)
{
    const int i = IndexOf(control);
    if (!Takes(i))
        return false;
    HeadlessWindow& window = Window();
    for (char c : characters) {
        const int key = NativeKeyPress(i, static_cast<unsigned char>(c));
        std::string& text = window.texts[i];
        if (key == kKeyBackspace) {
            if (!text.empty())
                text.pop_back();
        } else if (key != 0) {
            text.push_back(static_cast<char>(key));
        }
    }
    pump_.Wake();
    return true;
}

bool HeadlessForm::Paste(const std::string& control, const std::string& text)
{
    const int i = IndexOf(control);
    if (!Takes(i))
        return false;
    Window().texts[i] += text;
    pump_.Wake();
    return true;
}

bool HeadlessForm::Select(const std::string& control, int index)
{
    const int i = IndexOf(control);
    if (!Takes(i) || index < 0 || index >= ItemCount(control))
        return false;
    NativeSelected(i, index);
    if (Spec().controls[static_cast<std::size_t>(i)].editable)
        Window().texts[i] = ItemText(control, index);  // the edit field shows the pick
    return true;
}

void HeadlessForm::Activate()
{
    if (!IsVisible())
        return;
    ++Window().activations;
    NativeDeactivated();
    NativeActivated();
}

MessageResult HeadlessWindowSystem::NativeMessageBox(const std::string& text, const std::string& title,
                                                     MessageButtons buttons, MessageIcon icon, NativeWindow*)
{
    MessageRecord record{text, title, buttons, icon, MessageResult::Ok};
    record.answer = answerMessage(record);
    messages.push_back(record);
    return record.answer;
}

}  // namespace vel::platform
