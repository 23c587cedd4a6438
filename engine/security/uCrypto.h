#pragma once
// AES in CBC mode and the SHA-2 digests the security handler needs, over OpenSSL's libcrypto,
// opened at the first call (a missing libcrypto makes every answer "").
// Bytes in, bytes out: keys, IVs and data are byte strings; nothing here throws or reads past
// the bytes it is given.

#include <string>
#include <string_view>

namespace korvel {

// AES-CBC decryption of whole 16-byte blocks without padding removal; the key is 16 or 32
// bytes, the IV 16. A trailing partial block is dropped. A bad key or IV gives "".
std::string AESDecryptCBC(std::string_view key, std::string_view iv, std::string_view data);
// AES-CBC encryption of whole 16-byte blocks, no padding added (the caller pads). A partial
// trailing block is dropped.
std::string AESEncryptCBC(std::string_view key, std::string_view iv, std::string_view data);

// A PDF string or stream under AES: the first 16 bytes are the IV, the rest whole blocks whose
// last block ends in PKCS#7 padding. A partial last block is dropped, bad padding kept; data
// shorter than an IV gives "".
std::string AESDecryptPadded(std::string_view key, std::string_view data);
// The counterpart: the IV, then the data padded with PKCS#7 and encrypted.
std::string AESEncryptPadded(std::string_view key, std::string_view iv, std::string_view data);

std::string Sha256(std::string_view data);
std::string Sha384(std::string_view data);
std::string Sha512(std::string_view data);

} // namespace korvel
