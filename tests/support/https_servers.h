// The HTTPS test servers of tools/https-date-server and their throw-away
// certificate authority, for the back end's tests and the integration runs
// (each inside a network namespace of its own).
#pragma once

#include <string>

namespace vel::test {

// A folder with the authority and certificates of
// tools/https-date-server/make-test-certificates.sh, made once per process
// (and removed at its end); empty when they could not be made.
const std::string& TestCertificates();

// The command that starts a server in the background with certificate
// `name` ("good", "expired", "wrong-name", "self") of `folder`, on `port`
// (0: a free one) and with more options of the server's; it prints
// "listening on 127.0.0.1:PORT" and then its process id.
std::string HttpsServerCommand(const std::string& folder, const std::string& name, int port,
                               const std::string& options = {});

// Such a server, on a free port of 127.0.0.1, stopped when this goes.
class HttpsDateServer {
public:
    HttpsDateServer(const std::string& name, const std::string& options = {});
    ~HttpsDateServer();
    HttpsDateServer(const HttpsDateServer&) = delete;
    HttpsDateServer& operator=(const HttpsDateServer&) = delete;

    int port = 0;  // 0: it did not start

private:
    int pid_ = 0;
};

}  // namespace vel::test
