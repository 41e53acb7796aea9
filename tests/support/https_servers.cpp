#include "support/https_servers.h"

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vel::test {

namespace {

struct CertificateFolder {
    std::string path;
    CertificateFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "veltrane-ca-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            return;
        const std::string command = "sh '" HTTPS_TOOLS "/make-test-certificates.sh' '" + pattern + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0)
            path = pattern;
    }
    ~CertificateFolder()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
};

}  // namespace

const std::string& TestCertificates()
{
    static const CertificateFolder folder;
    return folder.path;
}

std::string HttpsServerCommand(const std::string& folder, const std::string& name, int port, const std::string& options)
{
    return "/usr/bin/python3 '" HTTPS_TOOLS "/https_date_server.py' --background --port " + std::to_string(port) +
           " --cert '" + folder + "/" + name + ".pem' --key '" + folder + "/" + name + ".key' " + options;
}

HttpsDateServer::HttpsDateServer(const std::string& name, const std::string& options)
{
    if (TestCertificates().empty())
        return;
    FILE* out = ::popen((HttpsServerCommand(TestCertificates(), name, 0, options) + " 2>/dev/null").c_str(), "r");
    if (out == nullptr)
        return;
    char line[128];
    if (std::fgets(line, sizeof line, out))
        std::sscanf(line, "listening on 127.0.0.1:%d", &port);
    if (std::fgets(line, sizeof line, out))
        std::sscanf(line, "%d", &pid_);
    ::pclose(out);
}

HttpsDateServer::~HttpsDateServer()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    // Gone (or a zombie: its socket closed) before the next test may find
    // its port still listening; 5 seconds at most.
    const std::string stat = "/proc/" + std::to_string(pid_) + "/stat";
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(stat);
        std::string pid, name, state;
        if (!(in >> pid >> name >> state) || state == "Z")
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace vel::test
