#pragma once

namespace kv {

// libgcrypt must be initialised once before its first use; safe to call from any thread.
void ensure_crypto_library();

}  // namespace kv
