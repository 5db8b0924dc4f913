#include "crypto_library.hpp"

#include <gcrypt.h>

#include <mutex>

namespace kv {

void ensure_crypto_library() {
    static std::once_flag once;
    std::call_once(once, [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

}  // namespace kv
