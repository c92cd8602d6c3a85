// This build's trust settings, as CMake wrote them into quorla_config.h. A source of its own:
// the test launchers link their own definition instead.
#include "inet/trust_settings.h"

#include "quorla_config.h"

namespace inet {

const trust_settings& builtin_trust_settings() {
    static const trust_settings settings{QUORLA_VERIFY_TLS != 0,       QUORLA_HTTPS_ONLY != 0,
                                         QUORLA_ALLOWED_SERVERS,       QUORLA_MANIFEST_PUBLIC_KEY,
                                         QUORLA_INSECURE_PACKAGE != 0, u""};
    return settings;
}

}  // namespace inet
