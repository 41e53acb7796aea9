#include "support/dbus/private_bus.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vel::test {

namespace fs = std::filesystem;

namespace {

// Debian's python3-dbusmock is installed for the system's python, whatever
// python3 comes first on the PATH.
constexpr const char* kPython = "/usr/bin/python3";

// The child dies with the test process, even one that crashed.
void DieWithParent()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Stop(QProcess& process)
{
    if (process.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(5000);
    }
}

}  // namespace

void EnsureCoreApplication()
{
    static int argc = 1;
    static char name[] = "veltrane-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);  // lives as long as the test process
}

std::string DialUpNetworkManagerTemplate()
{
    return VELTRANE_DBUS_SUPPORT "/dialup_networkmanager.py";
}

std::string SystemdUnitsTemplate()
{
    return VELTRANE_DBUS_SUPPORT "/systemd_units.py";
}

PrivateSystemBus::PrivateSystemBus()
{
    EnsureCoreApplication();
    std::string pattern = (fs::temp_directory_path() / "veltrane-bus-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error_ = "no temporary folder for the bus";
        return;
    }
    folder_ = pattern;
    std::ifstream in(VELTRANE_DBUS_SUPPORT "/system-bus.conf.in");
    std::string configuration((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    configuration.replace(configuration.find("@FOLDER@"), 8, folder_);
    std::ofstream(folder_ + "/bus.conf") << configuration;

    daemon_ = std::make_unique<QProcess>();
    daemon_->setProgram("dbus-daemon");
    daemon_->setArguments(
        {QString::fromStdString("--config-file=" + folder_ + "/bus.conf"), "--nofork", "--print-address=1"});
    daemon_->setStandardErrorFile(QString::fromStdString(folder_ + "/daemon.err"));
    daemon_->setChildProcessModifier(DieWithParent);
    daemon_->start();
    if (!daemon_->waitForStarted(5000)) {
        error_ = "dbus-daemon did not start: " + daemon_->errorString().toStdString();
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!daemon_->canReadLine() && std::chrono::steady_clock::now() < deadline &&
           daemon_->state() == QProcess::Running)
        daemon_->waitForReadyRead(100);
    if (!daemon_->canReadLine()) {
        error_ = "dbus-daemon gave no address: " + ReadWhole(folder_ + "/daemon.err");
        return;
    }
    address_ = daemon_->readLine().trimmed().toStdString();
    connectionName_ = QString::fromStdString("veltrane-test-bus-" + folder_);
    if (!QDBusConnection::connectToBus(QString::fromStdString(address_), connectionName_).isConnected())
        error_ = "cannot connect to the private bus at " + address_;
}

PrivateSystemBus::~PrivateSystemBus()
{
    if (!connectionName_.isEmpty())
        QDBusConnection::disconnectFromBus(connectionName_);
    for (auto& [name, mock] : mocks_)
        Stop(*mock);
    if (daemon_)
        Stop(*daemon_);
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

bool PrivateSystemBus::StartMock(const std::string& templateName, const std::string& busName,
                                 const std::string& parameters)
{
    if (!error_.empty())
        return false;
    auto mock = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SYSTEM_BUS_ADDRESS", QString::fromStdString(address_));
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    mock->setProcessEnvironment(environment);
    mock->setProgram(kPython);
    mock->setArguments({"-m", "dbusmock", "--system", "--template", QString::fromStdString(templateName), "--logfile",
                        QString::fromStdString(folder_ + "/" + busName + ".log"), "--parameters",
                        QString::fromStdString(parameters)});
    mock->setStandardOutputFile(QString::fromStdString(folder_ + "/" + busName + ".out"));
    mock->setStandardErrorFile(QString::fromStdString(folder_ + "/" + busName + ".out"), QIODevice::Append);
    mock->setChildProcessModifier(DieWithParent);
    mock->start();
    if (!mock->waitForStarted(5000)) {
        error_ = "python-dbusmock did not start: " + mock->errorString().toStdString();
        return false;
    }
    QDBusConnection bus(connectionName_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!bus.interface()->isServiceRegistered(QString::fromStdString(busName))) {
        if (mock->state() != QProcess::Running || std::chrono::steady_clock::now() > deadline) {
            Stop(*mock);
            error_ = "python-dbusmock (" + templateName +
                     ") did not come up: " + ReadWhole(folder_ + "/" + busName + ".out");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    mocks_[busName] = std::move(mock);
    return true;
}

void PrivateSystemBus::KillMock(const std::string& busName)
{
    if (const auto found = mocks_.find(busName); found != mocks_.end())
        Stop(*found->second);
}

std::vector<std::string> PrivateSystemBus::Calls(const std::string& busName) const
{
    std::vector<std::string> lines;
    std::istringstream in(ReadWhole(folder_ + "/" + busName + ".log"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

namespace {

// "<time> <Method> <arguments>": the method's calls, as (time, arguments).
std::vector<std::pair<double, std::string>> Split(const std::vector<std::string>& lines, const std::string& method)
{
    std::vector<std::pair<double, std::string>> calls;
    for (const std::string& line : lines) {
        const auto blank = line.find(' ');
        if (blank == std::string::npos)
            continue;
        const std::string rest = line.substr(blank + 1);
        if (rest == method)
            calls.emplace_back(std::stod(line.substr(0, blank)), "");
        else if (rest.rfind(method + " ", 0) == 0)
            calls.emplace_back(std::stod(line.substr(0, blank)), rest.substr(method.size() + 1));
    }
    return calls;
}

}  // namespace

std::vector<std::string> PrivateSystemBus::CallsOf(const std::string& busName, const std::string& method) const
{
    std::vector<std::string> arguments;
    for (auto& [time, text] : Split(Calls(busName), method))
        arguments.push_back(text);
    return arguments;
}

std::vector<double> PrivateSystemBus::TimesOf(const std::string& busName, const std::string& method) const
{
    std::vector<double> times;
    for (auto& [time, text] : Split(Calls(busName), method))
        times.push_back(time);
    return times;
}

QDBusMessage PrivateSystemBus::Call(const std::string& service, const std::string& path, const std::string& interface,
                                    const std::string& method, const QVariantList& arguments)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromStdString(service), QString::fromStdString(path),
                                       QString::fromStdString(interface), QString::fromStdString(method));
    call.setArguments(arguments);
    return QDBusConnection(connectionName_).call(call, QDBus::Block, 5000);
}

}  // namespace vel::test
