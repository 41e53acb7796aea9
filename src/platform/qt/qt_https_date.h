// The Date of HTTPS servers over Qt Network (QNetworkAccessManager, with
// Qt's TLS back end: OpenSSL on Linux).
#pragma once

#include <QNetworkAccessManager>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <map>
#include <optional>
#include <string>

#include "platform/event_pump.h"
#include "platform/https_date.h"

class QNetworkReply;

namespace vel::platform {

// The system's trust store (or, as for OpenSSL, the authorities of
// SSL_CERT_FILE and SSL_CERT_DIR where either is set) and proxy settings
// (https_proxy, no_proxy).
// Replies reach their handlers inside the event pump as soon as a
// response's headers have come, and the pump is woken after each.
//
// A chain whose only faults are of dates (a certificate expired or not yet
// valid by the PC clock) is let through as TrustedButForDates, with the
// validity of each certificate, so that the program can hold the server's
// own Date against it; any other certificate fault ends the request.
class QtHttpsDate : public QObject, public HttpsDate {
    Q_OBJECT
public:
    explicit QtHttpsDate(EventPump& pump);
    ~QtHttpsDate() override;

    void Ask(const std::string& host, int port, HttpsDateHandler handler) override;
    void CancelAll() override;

private:
    struct Request {
        HttpsDateHandler handler;
        bool datesOnly = false;   // the chain's only faults were of dates, and were let through
        std::string certificate;  // the faults of a chain that was refused
    };

    void HeadersCame(QNetworkReply* reply);
    void Finished(QNetworkReply* reply);
    void Deliver(QNetworkReply* reply, const HttpsDateReply& answer);

    EventPump& pump_;
    QNetworkAccessManager manager_;
    std::optional<QList<QSslCertificate>> trusted_;  // the environment's authorities, where it names them
    std::map<QNetworkReply*, Request> requests_;     // those whose reply has not been handed over
};

}  // namespace vel::platform
