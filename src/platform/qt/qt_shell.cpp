#include "platform/qt/qt_shell.h"

#include <QDesktopServices>

namespace vel::platform {

namespace {

constexpr int kOpened = 42;
constexpr int kFileNotFound = 2;    // ERROR_FILE_NOT_FOUND
constexpr int kNoAssociation = 31;  // SE_ERR_NOASSOC

}  // namespace

QUrl TargetUrl(const std::string& target)
{
    const QString text = QString::fromStdString(target).trimmed();
    if (text.isEmpty())
        return {};
    if (text.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
        return QUrl(text, QUrl::TolerantMode);
    return QUrl::fromUserInput(text);
}

int QtShell::Execute(const std::string& target)
{
    const QUrl url = TargetUrl(target);
    if (!url.isValid() || url.isEmpty())
        return kFileNotFound;
    return QDesktopServices::openUrl(url) ? kOpened : kNoAssociation;
}

}  // namespace vel::platform
