#include "platform/linux/program_runner.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace vel::platform {

namespace {

// Untranslated messages and values, UTF-8 names.
QProcessEnvironment SystemToolEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C.UTF-8");
    environment.remove("LANGUAGE");
    return environment;
}

}  // namespace

ProgramRunner::ProgramRunner(std::string searchPath) : searchPath_(std::move(searchPath))
{}

std::optional<std::string> ProgramRunner::Find(const std::string& program) const
{
    if (program.empty())
        return std::nullopt;
    const QString name = QString::fromStdString(program);
    if (program.find('/') != std::string::npos) {
        const QFileInfo info(name);
        if (info.isFile() && info.isExecutable())
            return program;
        return std::nullopt;
    }
    QString found;
    if (searchPath_.empty()) {
        found = QStandardPaths::findExecutable(name);
    } else {
        // An empty list would make Qt search the process's PATH instead.
        const QStringList folders = QString::fromStdString(searchPath_).split(':', Qt::SkipEmptyParts);
        if (!folders.isEmpty())
            found = QStandardPaths::findExecutable(name, folders);
    }
    if (found.isEmpty())
        return std::nullopt;
    return found.toStdString();
}

bool ProgramRunner::StartDetached(const std::vector<std::string>& argv, StartAs how) const
{
    if (argv.empty())
        return false;
    const auto path = Find(argv[0]);
    if (!path)
        return false;
    QStringList arguments;
    for (std::size_t i = 1; i < argv.size(); ++i)
        arguments << QString::fromStdString(argv[i]);
    QProcess process;
    process.setProgram(QString::fromStdString(*path));
    process.setArguments(arguments);
    if (how == StartAs::SystemTool) {
        process.setProcessEnvironment(SystemToolEnvironment());
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
    }
    return process.startDetached();
}

}  // namespace vel::platform
