// Stand-in until the Linux dial-up back end is built.
#include "platform/factory.h"

namespace vel::platform {

namespace {

class NoDialUp : public DialUpNetworking {
public:
    ConnectedState GetConnectedState() override { return {}; }
    bool IsDialUpLinkUp() override { return false; }
    std::vector<std::string> ActiveConnections() override { return {}; }
    std::vector<std::string> Entries() override { return {}; }
    std::string DefaultEntry() override { return {}; }
    void StartDialer(const std::string&) override {}
    void HangUp(const std::string&) override {}
};

}  // namespace

std::unique_ptr<DialUpNetworking> CreateDialUpNetworking()
{
    return std::make_unique<NoDialUp>();
}

}  // namespace vel::platform
