// The server-trust check of the API stream.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TrustEvaluation.h"

namespace {

constexpr const char* kTrustedLine =
    "MVApiConnection SSL challenge trusted for '{}' by root CA: {}";
constexpr const char* kInvalidCertificate = "MVApiConnection aborted due to invalid certificate.";
constexpr const char* kUntrustedRootDetail = " Untrusted root CA: {}";
constexpr const char* kReasonText = " Reason: {}.";

// Subject summaries (common names) of widely trusted public root certification
// authorities. A fixed part of the program, not configuration.
const std::set<std::string>& builtInTrustedRoots() {
    static const auto* roots = new std::set<std::string>{
        "AC RAIZ FNMT-RCM SERVIDORES SEGUROS",
        "ACCVRAIZ1",
        "ANF Secure Server Root CA",
        "Actalis Authentication Root CA",
        "AffirmTrust Commercial",
        "AffirmTrust Networking",
        "AffirmTrust Premium",
        "AffirmTrust Premium ECC",
        "Amazon Root CA 1",
        "Amazon Root CA 2",
        "Amazon Root CA 3",
        "Amazon Root CA 4",
        "Atos TrustedRoot 2011",
        "Atos TrustedRoot Root CA ECC TLS 2021",
        "Atos TrustedRoot Root CA RSA TLS 2021",
        "Autoridad de Certificacion Firmaprofesional CIF A62634068",
        "BJCA Global Root CA1",
        "BJCA Global Root CA2",
        "Baltimore CyberTrust Root",
        "Buypass Class 2 Root CA",
        "Buypass Class 3 Root CA",
        "CA Disig Root R2",
        "CFCA EV ROOT",
        "COMODO Certification Authority",
        "COMODO ECC Certification Authority",
        "COMODO RSA Certification Authority",
        "Certainly Root E1",
        "Certainly Root R1",
        "Certigna",
        "Certigna Root CA",
        "Certum EC-384 CA",
        "Certum Trusted Network CA",
        "Certum Trusted Network CA 2",
        "Certum Trusted Root CA",
        "CommScope Public Trust ECC Root-01",
        "CommScope Public Trust ECC Root-02",
        "CommScope Public Trust RSA Root-01",
        "CommScope Public Trust RSA Root-02",
        "D-TRUST BR Root CA 1 2020",
        "D-TRUST BR Root CA 2 2023",
        "D-TRUST EV Root CA 1 2020",
        "D-TRUST EV Root CA 2 2023",
        "D-TRUST Root Class 3 CA 2 2009",
        "D-TRUST Root Class 3 CA 2 EV 2009",
        "DigiCert Assured ID Root CA",
        "DigiCert Assured ID Root G2",
        "DigiCert Assured ID Root G3",
        "DigiCert Global Root CA",
        "DigiCert Global Root G2",
        "DigiCert Global Root G3",
        "DigiCert High Assurance EV Root CA",
        "DigiCert TLS ECC P384 Root G5",
        "DigiCert TLS RSA4096 Root G5",
        "DigiCert Trusted Root G4",
        "Entrust Root Certification Authority",
        "Entrust Root Certification Authority - EC1",
        "Entrust Root Certification Authority - G2",
        "Entrust.net Certification Authority (2048)",
        "FIRMAPROFESIONAL CA ROOT-A WEB",
        "GDCA TrustAUTH R5 ROOT",
        "GLOBALTRUST 2020",
        "GTS Root R1",
        "GTS Root R2",
        "GTS Root R3",
        "GTS Root R4",
        "GlobalSign",
        "GlobalSign Root CA",
        "GlobalSign Root E46",
        "GlobalSign Root R46",
        "Go Daddy Root Certificate Authority - G2",
        "HARICA TLS ECC Root CA 2021",
        "HARICA TLS RSA Root CA 2021",
        "Hellenic Academic and Research Institutions ECC RootCA 2015",
        "Hellenic Academic and Research Institutions RootCA 2015",
        "HiPKI Root CA - G1",
        "Hongkong Post Root CA 3",
        "ISRG Root X1",
        "ISRG Root X2",
        "IdenTrust Commercial Root CA 1",
        "IdenTrust Public Sector Root CA 1",
        "Izenpe.com",
        "Microsec e-Szigno Root CA 2009",
        "Microsoft ECC Root Certificate Authority 2017",
        "Microsoft RSA Root Certificate Authority 2017",
        "NAVER Global Root Certification Authority",
        "NetLock Arany (Class Gold) Főtanúsítvány",
        "OISTE WISeKey Global Root GB CA",
        "OISTE WISeKey Global Root GC CA",
        "QuoVadis Root CA 1 G3",
        "QuoVadis Root CA 2",
        "QuoVadis Root CA 2 G3",
        "QuoVadis Root CA 3",
        "QuoVadis Root CA 3 G3",
        "SSL.com EV Root Certification Authority ECC",
        "SSL.com EV Root Certification Authority RSA R2",
        "SSL.com Root Certification Authority ECC",
        "SSL.com Root Certification Authority RSA",
        "SSL.com TLS ECC Root CA 2022",
        "SSL.com TLS RSA Root CA 2022",
        "SZAFIR ROOT CA2",
        "Sectigo Public Server Authentication Root E46",
        "Sectigo Public Server Authentication Root R46",
        "Secure Global CA",
        "SecureSign Root CA12",
        "SecureSign Root CA14",
        "SecureSign Root CA15",
        "SecureSign RootCA11",
        "SecureTrust CA",
        "Security Communication ECC RootCA1",
        "Starfield Root Certificate Authority - G2",
        "Starfield Services Root Certificate Authority - G2",
        "SwissSign Gold CA - G2",
        "T-TeleSec GlobalRoot Class 2",
        "T-TeleSec GlobalRoot Class 3",
        "TUBITAK Kamu SM SSL Kok Sertifikasi - Surum 1",
        "TWCA CYBER Root CA",
        "TWCA Global Root CA",
        "TWCA Root Certification Authority",
        "Telekom Security TLS ECC Root 2020",
        "Telekom Security TLS RSA Root 2023",
        "Telia Root CA v2",
        "TeliaSonera Root CA v1",
        "TrustAsia Global Root CA G3",
        "TrustAsia Global Root CA G4",
        "Trustwave Global Certification Authority",
        "Trustwave Global ECC P256 Certification Authority",
        "Trustwave Global ECC P384 Certification Authority",
        "TunTrust Root CA",
        "UCA Extended Validation Root",
        "UCA Global G2 Root",
        "USERTrust ECC Certification Authority",
        "USERTrust RSA Certification Authority",
        "XRamp Global Certification Authority",
        "e-Szigno Root CA 2017",
        "emSign ECC Root CA - C3",
        "emSign Root CA - C1",
        "emSign Root CA - G1",
        "vTrus ECC Root CA",
        "vTrus Root CA",
    };
    return *roots;
}

struct TrustedRoots {
    std::mutex mutex;
    std::optional<std::set<std::string>> replacement;
};

TrustedRoots& trustedRoots() {
    static auto* roots = new TrustedRoots;
    return *roots;
}

bool isTrustedRoot(const std::string& name) {
    auto& roots = trustedRoots();
    std::lock_guard lock(roots.mutex);
    return roots.replacement ? roots.replacement->contains(name)
                             : builtInTrustedRoots().contains(name);
}

}  // namespace

const std::set<std::string>& MVApiConnection::trustedCertificateAuthorities() {
    return builtInTrustedRoots();
}

void MVApiConnection::setTrustedCertificateAuthoritiesForTesting(
    std::optional<std::set<std::string>> names) {
    auto& roots = trustedRoots();
    {
        std::lock_guard lock(roots.mutex);
        roots.replacement = std::move(names);
    }
    platform::registerSharedInstanceReset("MVApiConnection.trustedCertificateAuthorities",
                                          [] { setTrustedCertificateAuthoritiesForTesting({}); });
}

bool MVApiConnection::isTrustedConnection() {
    std::lock_guard lock(mutex_);
    if (!needsVerifiedTrust_ || hasVerifiedTrust_) return true;
    if (!streamFromServer_) return false;

    const std::string host = targetHost();
    const auto chain = streamFromServer_->peerCertificateChain();
    std::optional<std::string> detail;
    std::string reason = "the server presented no certificate";
    if (!chain.empty()) {
        const auto evaluation = platform::evaluateTrust(chain, host);
        reason = evaluation.reason.empty() ? "the chain is not valid" : evaluation.reason;
        if (evaluation.trusted && !evaluation.verifiedChain.empty()) {
            // Names are read from the chain the evaluation built, never from a certificate
            // the server merely appended: its anchor, and its highest certificate that the
            // server presented (the root end of what the server sent).
            const auto& verified = evaluation.verifiedChain;
            auto presentedTop =
                std::find_if(verified.rbegin(), verified.rend(), [&](const auto& c) {
                    return std::find(chain.begin(), chain.end(), c) != chain.end();
                });
            const auto anchor = platform::certificateSubjectCommonName(verified.back());
            const auto summary = presentedTop == verified.rend()
                                     ? std::nullopt
                                     : platform::certificateSubjectCommonName(*presentedTop);
            reason = "the root end of the chain has no common name";
            if (anchor && summary) {
                const bool anchorTrusted = isTrustedRoot(*anchor);
                if (anchorTrusted && isTrustedRoot(*summary)) {
                    MVLogVerbose(kTrustedLine, host, *summary);
                    hasVerifiedTrust_ = true;
                    return true;
                }
                const std::string& refused = anchorTrusted ? *summary : *anchor;
                detail = fmt::format(kUntrustedRootDetail, refused);
                reason = anchorTrusted
                             ? "the highest certificate the server sent is not a trusted root"
                             : "the chain ends at an anchor that is not a trusted root";
            }
        }
    }
    // The reason is the platform's or ours, never the server's text; the detail names
    // what the server presented.
    MVLogError("{}{}{}", kInvalidCertificate,
               detail ? platform::log::escaped(*detail) + "." : std::string(),
               fmt::format(kReasonText, reason));
    if (detail) {
        MVErrorLogger::logError(kInvalidCertificate, *detail);
    } else {
        MVErrorLogger::logError(kInvalidCertificate);
    }
    return false;
}
