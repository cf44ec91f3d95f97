#include "download/networklimits.h"

namespace NetworkLimits {

int stallTimeoutMs = 30 * 1000;
int dripWindowMs = 60 * 1000;
qint64 dripMinBytes = 64 * 1024;
qint64 manifestMaxBytes = 1024 * 1024;
qint64 signatureMaxBytes = 64 * 1024;
qint64 readBufferBytes = 2 * 1024 * 1024;
qint64 hashBacklogBytes = 4 * 1024 * 1024;

} // namespace NetworkLimits
