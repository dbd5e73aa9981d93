#pragma once

namespace kelvora {

enum TSecureOptions : int { SECURE_NONE, SECURE_STARTTLS, SECURE_SSLTLS };

} // namespace kelvora
