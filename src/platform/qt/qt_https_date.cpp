#include "platform/qt/qt_https_date.h"

#include <QDateTime>
#include <QList>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QUrl>

namespace vel::platform {

namespace {

bool IsDateFault(const QSslError& error)
{
    return error.error() == QSslError::CertificateExpired || error.error() == QSslError::CertificateNotYetValid;
}

Instant InstantOf(const QDateTime& time)
{
    return {time.toSecsSinceEpoch(), 0};
}

}  // namespace

QtHttpsDate::QtHttpsDate(EventPump& pump) : pump_(pump)
{
    // As every OpenSSL program: SSL_CERT_FILE and SSL_CERT_DIR, where set,
    // name the trusted authorities in place of the system's own. (Qt reads
    // the system's folders itself and would not look at them.)
    const QByteArray file = qgetenv("SSL_CERT_FILE");
    const QByteArray folder = qgetenv("SSL_CERT_DIR");
    if (!file.isEmpty() || !folder.isEmpty()) {
        QList<QSslCertificate> trusted;
        if (!file.isEmpty())
            trusted += QSslCertificate::fromPath(QString::fromLocal8Bit(file), QSsl::Pem);
        for (const QByteArray& path : folder.split(':'))
            if (!path.isEmpty())
                trusted += QSslCertificate::fromPath(QString::fromLocal8Bit(path) + QStringLiteral("/*"), QSsl::Pem,
                                                     QSslCertificate::PatternSyntax::Wildcard);
        trusted_ = trusted;
    }
    // The proxy the system names for each address (on Linux https_proxy,
    // no_proxy); none where it names none.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

QtHttpsDate::~QtHttpsDate()
{
    CancelAll();
}

void QtHttpsDate::Ask(const std::string& host, int port, HttpsDateHandler handler)
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QString::fromStdString(host));
    url.setPort(port);
    url.setPath(QStringLiteral("/"));
    QNetworkRequest request(url);
    // The Date of this server, not of another it sends us to.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Veltrane"));
    if (trusted_) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(*trusted_);
        request.setSslConfiguration(configuration);
    }
    QNetworkReply* reply = manager_.head(request);
    requests_[reply].handler = std::move(handler);

    connect(reply, &QNetworkReply::sslErrors, this, [this, reply](const QList<QSslError>& errors) {
        const auto found = requests_.find(reply);
        if (found == requests_.end())
            return;
        bool datesOnly = !errors.isEmpty();
        std::string faults;
        for (const QSslError& error : errors) {
            datesOnly = datesOnly && IsDateFault(error);
            faults += (faults.empty() ? "" : "; ") + error.errorString().toStdString();
        }
        if (datesOnly) {
            // Whether the server's Date explains them is the program's to decide.
            found->second.datesOnly = true;
            reply->ignoreSslErrors(errors);
        } else {
            found->second.certificate = faults;
        }
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] { HeadersCame(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { Finished(reply); });
}

void QtHttpsDate::HeadersCame(QNetworkReply* reply)
{
    const auto found = requests_.find(reply);
    if (found == requests_.end() || !reply->hasRawHeader("Date"))
        return;
    HttpsDateReply answer;
    answer.date = reply->rawHeader("Date").toStdString();
    answer.outcome =
        found->second.datesOnly ? HttpsDateReply::Outcome::TrustedButForDates : HttpsDateReply::Outcome::Trusted;
    if (found->second.datesOnly)
        for (const QSslCertificate& certificate : reply->sslConfiguration().peerCertificateChain())
            answer.chain.push_back({InstantOf(certificate.effectiveDate()), InstantOf(certificate.expiryDate())});
    Deliver(reply, answer);
}

void QtHttpsDate::Finished(QNetworkReply* reply)
{
    // Headers that came with the end (no separate signal for them).
    HeadersCame(reply);
    const auto found = requests_.find(reply);
    if (found != requests_.end()) {
        HttpsDateReply answer;
        if (!found->second.certificate.empty())
            answer.error = "its certificate is refused: " + found->second.certificate;
        else if (reply->error() != QNetworkReply::NoError)
            answer.error = reply->errorString().toStdString();
        else
            answer.error = "its answer has no Date";
        Deliver(reply, answer);
    }
    reply->deleteLater();
}

void QtHttpsDate::Deliver(QNetworkReply* reply, const HttpsDateReply& answer)
{
    const auto found = requests_.find(reply);
    if (found == requests_.end())
        return;
    const HttpsDateHandler handler = std::move(found->second.handler);
    requests_.erase(found);
    if (handler)
        handler(answer);
    pump_.Wake();
}

void QtHttpsDate::CancelAll()
{
    // Taken out first: abort() finishes a reply inside the call.
    std::map<QNetworkReply*, Request> requests;
    requests.swap(requests_);
    for (auto& [reply, request] : requests) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

}  // namespace vel::platform
