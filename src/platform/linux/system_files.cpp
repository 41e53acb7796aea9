#include "platform/linux/system_files.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

namespace vel::platform {

std::optional<std::string> ReadWholeFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll().toStdString();
}

bool IsOrdinaryFileAt(const std::string& path)
{
    return QFileInfo(QString::fromStdString(path)).isFile();
}

}  // namespace vel::platform
