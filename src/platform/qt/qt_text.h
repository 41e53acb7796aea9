// The program's texts (UTF-8) as Qt's and back.
#pragma once

#include <QString>
#include <string>

namespace vel::platform {

inline QString ToQString(const std::string& text)
{
    return QString::fromStdString(text);
}

inline std::string ToStdString(const QString& text)
{
    return text.toStdString();
}

}  // namespace vel::platform
