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

    QDBusMessage Manager(const QString& method, const QVariantList& arguments, bool interactive = false)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kSystemd, QStringLiteral("/org/freedesktop/systemd1"),
                                                           QStringLiteral("org.freedesktop.systemd1.Manager"), method);
        call.setArguments(arguments);
        call.setInteractiveAuthorizationAllowed(interactive);
        return CallAndWait(bus_, call, timeoutMs_);
    }

    QDBusMessage Property(const QString& path, const QString& interface, const QString& name)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kSystemd, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << interface << name;
        return CallAndWait(bus_, call, timeoutMs_);
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

}  // namespace

MachineRun RunMachineService(const MachineRunOptions& options)
{
    MachineRun run;
    const std::string service = kMachineService;
    const BusConnection owner(options.busAddress, QStringLiteral("machinerun"));
    const QDBusConnection bus = owner.Get();
    if (!bus.isConnected()) {
        run.description = "no system bus to reach systemd";
        return run;
    }
    Systemd systemd(bus, options.answerTimeoutMs);

    // Never a password dialog here: whom the rule does not let start it goes
    // on to systemd-timedated, which may ask.
    const QDBusMessage job =
        systemd.Manager(QStringLiteral("StartUnit"), {QString::fromLatin1(kMachineService), QStringLiteral("replace")});
    if (job.type() != QDBusMessage::ReplyMessage || job.arguments().isEmpty()) {
        run.refusal = job.errorName().toStdString();
        run.description = "systemd did not start " + service + ": " + ErrorOf(job);
        return run;
    }
    run.started = true;

    // The job is there while the run waits or runs, and goes when it ends.
    const QString jobPath = qvariant_cast<QDBusObjectPath>(job.arguments().at(0)).path();
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        const QDBusMessage state =
            systemd.Property(jobPath, QStringLiteral("org.freedesktop.systemd1.Job"), QStringLiteral("State"));
        if (state.type() != QDBusMessage::ReplyMessage && !IsNoAnswer(state))
            break;
        if (elapsed.elapsed() >= options.timeoutMs) {
            run.description = "the machine's run " + service + " did not end within " +
                              std::to_string(options.timeoutMs / 1000) + " s";
            return run;
        }
        Pause(options.pollMs);
    }

    const QDBusMessage unit = systemd.Manager(QStringLiteral("GetUnit"), {QString::fromLatin1(kMachineService)});
    std::optional<QVariant> result, status;
    if (unit.type() == QDBusMessage::ReplyMessage && !unit.arguments().isEmpty()) {
        const QString path = qvariant_cast<QDBusObjectPath>(unit.arguments().at(0)).path();
        const QString interface = QStringLiteral("org.freedesktop.systemd1.Service");
        result = systemd.Value(path, interface, QStringLiteral("Result"));
        status = systemd.Value(path, interface, QStringLiteral("ExecMainStatus"));
    }
    const std::string journal = " (journalctl -u " + service + " tells more)";
    if (!result || !status) {
        run.description = "systemd did not say how the machine's run " + service + " ended" + journal;
        return run;
    }
    const std::string ending = result->toString().toStdString();
    const int exitStatus = status->toInt();
    if (ending == "success" && exitStatus == 0) {
        run.setClock = true;
        return run;
    }
    if (ending == "success" && exitStatus == 6)
        run.description = "the machine's run " + service + " left the clock to another time service" + journal;
    else
        run.description = "the machine's run " + service + " ended with " +
                          (ending == "success" ? std::string() : "result " + ending + ", ") + "exit status " +
                          std::to_string(exitStatus) + journal;
    return run;
}

}  // namespace vel::platform
