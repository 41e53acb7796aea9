// A private system bus for one test: a dbus-daemon of its own with a
// configuration of its own (the machine's system bus is never touched), and
// python-dbusmock services on it. A program is pointed at it with
// DBUS_SYSTEM_BUS_ADDRESS; the test's own calls go through Call. Every
// process it starts ends with it, or with the test process.
#pragma once

#include <QDBusMessage>
#include <QVariant>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QProcess;

namespace vel::test {

// Qt D-Bus and QProcess want a QCoreApplication: one for the whole test
// process, made on first use.
void EnsureCoreApplication();

// The python-dbusmock template for NetworkManager's dial-up parts (modem
// profiles, slow or failing activations, a method that never answers), on
// top of the package's own networkmanager template.
std::string DialUpNetworkManagerTemplate();
// The template for systemd as Veltrane meets it: units not loaded are
// NoSuchUnit, and a started service runs a while and ends with a result
// (systemd_units.py says how).
std::string SystemdUnitsTemplate();

class PrivateSystemBus {
public:
    // Starts the bus; Error() says why when it could not.
    PrivateSystemBus();
    ~PrivateSystemBus();
    PrivateSystemBus(const PrivateSystemBus&) = delete;
    PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

    const std::string& Error() const { return error_; }
    const std::string& Address() const { return address_; }

    // Starts python-dbusmock with a template (one of the package's by name,
    // or a path to a .py file) and its parameters (a JSON object), and waits
    // until `busName` is owned on the bus. False (and Error()) when not.
    bool StartMock(const std::string& templateName, const std::string& busName, const std::string& parameters = "{}");

    // Ends a mock at once, as a crash would.
    void KillMock(const std::string& busName);

    // The calls a mock has logged, one line each: "<seconds since the
    // epoch> <Method> <arguments>", the arguments as python-dbusmock writes
    // them (texts and paths in double quotes).
    std::vector<std::string> Calls(const std::string& busName) const;
    // The arguments of the calls of one method, each as one text.
    std::vector<std::string> CallsOf(const std::string& busName, const std::string& method) const;
    // The times (seconds since the epoch) of the calls of one method.
    std::vector<double> TimesOf(const std::string& busName, const std::string& method) const;

    // A method call on the bus, answered within a few seconds or an error.
    QDBusMessage Call(const std::string& service, const std::string& path, const std::string& interface,
                      const std::string& method, const QVariantList& arguments = {});

private:
    std::string folder_;
    std::string address_;
    std::string error_;
    std::unique_ptr<QProcess> daemon_;
    std::map<std::string, std::unique_ptr<QProcess>> mocks_;
    QString connectionName_;
};

}  // namespace vel::test
