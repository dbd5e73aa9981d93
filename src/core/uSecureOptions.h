#pragma once

namespace kelvora {

// How a mail connection is protected; stored as its ordinal with every mail
// account, so the values must keep their order.
enum TSecureOptions : int { SECURE_NONE, SECURE_STARTTLS, SECURE_SSLTLS };

} // namespace kelvora
