#include "platform/qt/qt_shell.h"

#include <QDesktopServices>

namespace vel::platform {

QUrl TargetUrl(const std::string& target)
{
    const QString text = QString::fromStdString(target).trimmed();
    if (text.isEmpty())
        return {};
    if (text.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
        return QUrl(text, QUrl::TolerantMode);
    if (const std::optional<std::string> address = WebAddressOf(text.toStdString()))
        return QUrl(QString::fromStdString(*address), QUrl::StrictMode);
    return QUrl::fromUserInput(text);
}

bool QtShell::Open(const std::string& target)
{
    const QUrl url = TargetUrl(target);
    return url.isValid() && !url.isEmpty() && QDesktopServices::openUrl(url);
}

}  // namespace vel::platform
