#pragma once

namespace kelvora {

// How a mail connection is secured; stored and passed as its ordinal.
enum TSecureOptions : int { SECURE_NONE, SECURE_STARTTLS, SECURE_SSLTLS };

} // namespace kelvora
