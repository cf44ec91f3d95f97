// The real start-up with the command line it is given, against the manifest at
// PROBE_MANIFEST_URL, signed with PROBE_PUBLIC_KEY when set. It ends itself with status 4 after
// PROBE_DEADLINE_MS: the test's own deadline. With PROBE_CA_FILE, https servers are trusted only
// when their chain leads to a certificate in that PEM file.
#include "app/startup.h"
#include "download/network.h"
#include "download/networklimits.h"
#include "road/settings.h"

#include <QSslCertificate>

#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char *argv[])
{
    const int deadlineMs = qEnvironmentVariableIntValue("PROBE_DEADLINE_MS");
    if (deadlineMs <= 0)
        return 2;
    std::thread([deadlineMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(deadlineMs));
        std::_Exit(4);
    }).detach();
    manifestUrl = qEnvironmentVariable("PROBE_MANIFEST_URL");
    publicKey = qEnvironmentVariable("PROBE_PUBLIC_KEY");
    NetworkLimits::retryCount = 0;
    const QString caFile = qEnvironmentVariable("PROBE_CA_FILE");
    if (!caFile.isEmpty())
        Network::setTrustedCertificates(QSslCertificate::fromPath(caFile));
    return runUpdater(argc, argv);
}
