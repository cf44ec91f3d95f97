#include "download/networklimits.h"

#include "verify/minisignsignature.h"

namespace NetworkLimits {

int stallTimeoutMs = 30 * 1000;
int dripWindowMs = 60 * 1000;
qint64 dripMinBytes = 64 * 1024;
qint64 manifestMaxBytes = 1024 * 1024;
// No signature file that minisign writes comes near it; the parser refuses anything larger.
qint64 signatureMaxBytes = MinisignSignature::MaxSize;
qint64 readBufferBytes = 2 * 1024 * 1024;
qint64 hashBacklogBytes = 4 * 1024 * 1024;

} // namespace NetworkLimits
