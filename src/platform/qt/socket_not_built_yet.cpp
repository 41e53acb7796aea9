// Stand-in until the Qt socket is built.
#include "platform/factory.h"

namespace vel::platform {

namespace {

class NoSocket : public Socket {
public:
    explicit NoSocket(EventPump& pump) : pump_(pump) {}
    void SetHandler(SocketEvents* handler) override { handler_ = handler; }
    void SetRemoteHost(const std::string&) override {}
    void SetRemotePort(int) override {}
    void Connect() override
    {
        pump_.Post([this] {
            if (handler_)
                handler_->OnError(WSAENETDOWN, "the socket is not built yet");
        });
    }
    std::string GetData(std::size_t) override { return {}; }
    void Close() override {}

private:
    EventPump& pump_;
    SocketEvents* handler_ = nullptr;
};

}  // namespace

std::unique_ptr<Socket> CreateSocket(EventPump& pump)
{
    return std::make_unique<NoSocket>(pump);
}

}  // namespace vel::platform
