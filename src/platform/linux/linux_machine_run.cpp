#include "platform/linux/linux_machine_run.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QVariant>
#include <chrono>
#include <optional>
#include <thread>

#include "platform/linux/dbus_call.h"

namespace vel::platform {

namespace {

const QString kSystemd = QStringLiteral("org.freedesktop.systemd1");
const QString kUnit = QStringLiteral("org.freedesktop.systemd1.Unit");

// Lets the event loop run for a while (the thread sleeps where there is none).
void Pause(int ms)
{
    if (QCoreApplication::instance() == nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

std::string ErrorOf(const QDBusMessage& reply)
{
    std::string text = reply.errorMessage().toStdString();
    if (!reply.errorName().isEmpty())
        text += " (" + reply.errorName().toStdString() + ")";
    return text;
}

class Systemd {
public:
    Systemd(const QDBusConnection& bus, int timeoutMs) : bus_(bus), timeoutMs_(timeoutMs) {}

    // Never interactive: nobody is asked for a password.
    QDBusMessage Manager(const QString& method, const QVariantList& arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kSystemd, QStringLiteral("/org/freedesktop/systemd1"),
                                                           QStringLiteral("org.freedesktop.systemd1.Manager"), method);
        call.setArguments(arguments);
        call.setInteractiveAuthorizationAllowed(false);
        return CallAndWait(bus_, call, timeoutMs_);
    }

    QDBusMessage Property(const QString& path, const QString& interface, const QString& name)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kSystemd, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << interface << name;
        return CallAndWait(bus_, call, timeoutMs_);
    }

    QDBusMessage Call(const QString& path, const QString& interface, const QString& method)
    {
        return CallAndWait(bus_, QDBusMessage::createMethodCall(kSystemd, path, interface, method), timeoutMs_);
    }

    std::optional<QVariant> Value(const QString& path, const QString& interface, const QString& name)
    {
        const QDBusMessage reply = Property(path, interface, name);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        return qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant();
    }

private:
    QDBusConnection bus_;
    int timeoutMs_;
};

// Waits for the run's job to go (while it waits or runs), then reads how
// the run ended.
void Judge(Systemd& systemd, const QString& job, const QString& unit, bool held, const MachineRunOptions& options,
           MachineRun& run)
{
    const std::string service = kMachineService;
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        const QDBusMessage state =
            systemd.Property(job, QStringLiteral("org.freedesktop.systemd1.Job"), QStringLiteral("State"));
        if (state.type() != QDBusMessage::ReplyMessage && !IsNoAnswer(state))
            break;
        if (elapsed.elapsed() >= options.timeoutMs) {
            run.description = "the machine's run " + service + " did not end within " +
                              std::to_string(options.timeoutMs / 1000) + " s";
            return;
        }
        Pause(options.pollMs);
    }

    const QString interface = QStringLiteral("org.freedesktop.systemd1.Service");
    const std::optional<QVariant> active = systemd.Value(unit, kUnit, QStringLiteral("ActiveState"));
    const std::optional<QVariant> result = systemd.Value(unit, interface, QStringLiteral("Result"));
    const std::optional<QVariant> status = systemd.Value(unit, interface, QStringLiteral("ExecMainStatus"));
    const std::string journal = " (journalctl -u " + service + " tells more)";
    if (!active || !result || !status) {
        // Unloaded as soon as it ended: only a run that ended well is.
        if (!held) {
            run.setClock = true;
            return;
        }
        run.description = "systemd did not say how the machine's run " + service + " ended" + journal;
        return;
    }
    const std::string ending = result->toString().toStdString();
    const int exitStatus = status->toInt();
    if (ending == "success" && exitStatus == 0) {
        run.setClock = true;
        return;
    }
    if (ending == "success" && exitStatus == 6)
        run.description = "the machine's run " + service + " left the clock to another time service" + journal;
    else
        run.description = "the machine's run " + service + " ended with " +
                          (ending == "success" ? std::string() : "result " + ending + ", ") + "exit status " +
                          std::to_string(exitStatus) + journal;
}

}  // namespace

MachineRun RunMachineService(const MachineRunOptions& options)
{
    MachineRun run;
    const std::string service = kMachineService;
    const QString name = QString::fromLatin1(kMachineService);
    const BusConnection owner(options.busAddress, QStringLiteral("machinerun"));
    const QDBusConnection bus = owner.Get();
    if (!bus.isConnected()) {
        run.description = "no system bus to reach systemd";
        return run;
    }
    Systemd systemd(bus, options.answerTimeoutMs);

    const QDBusMessage loaded = systemd.Manager(QStringLiteral("LoadUnit"), {name});
    if (loaded.type() != QDBusMessage::ReplyMessage || loaded.arguments().isEmpty()) {
        run.refusal = loaded.errorName().toStdString();
        run.description = "systemd did not load " + service + ": " + ErrorOf(loaded);
        return run;
    }
    const QString unit = qvariant_cast<QDBusObjectPath>(loaded.arguments().at(0)).path();
    const std::optional<QVariant> state = systemd.Value(unit, kUnit, QStringLiteral("LoadState"));
    if (!state || state->toString() != QLatin1String("loaded")) {
        run.refusal = "org.freedesktop.systemd1.NoSuchUnit";
        run.description = service + " is not installed";
        return run;
    }
    // A reference keeps the unit loaded once the run has ended, so that how
    // it ended can be read: without one, systemd may unload a service that
    // ended well at once.
    const bool held = systemd.Call(unit, kUnit, QStringLiteral("Ref")).type() == QDBusMessage::ReplyMessage;

    // Never a password dialog here: whom the rule does not let start it goes
    // on to systemd-timedated, which may ask.
    const QDBusMessage job = systemd.Manager(QStringLiteral("StartUnit"), {name, QStringLiteral("replace")});
    if (job.type() != QDBusMessage::ReplyMessage || job.arguments().isEmpty()) {
        run.refusal = job.errorName().toStdString();
        run.description = "systemd did not start " + service + ": " + ErrorOf(job);
    } else {
        run.started = true;
        Judge(systemd, qvariant_cast<QDBusObjectPath>(job.arguments().at(0)).path(), unit, held, options, run);
    }
    if (held)
        systemd.Call(unit, kUnit, QStringLiteral("Unref"));
    return run;
}

}  // namespace vel::platform
